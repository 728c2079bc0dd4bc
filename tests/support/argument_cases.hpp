// The command lines dictbuild and flashprog are tried with: they take no
// arguments but --help and --version, and refuse anything else untouched.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_folder.hpp"
#include "version.hpp"

namespace testing_support {

struct ArgumentCase {
    std::string name;
    std::vector<std::string> args;
    bool runs = false;         // the program runs as it always did (checked by each program's test)
    int exit_status = 0;       // otherwise: the status it ends with at once,
    std::string output_start;  // how its standard output begins,
    std::string errors_start;  // and how its standard error begins
};

inline std::vector<ArgumentCase> argument_cases(const std::string& program) {
    const std::string usage_start = "usage: " + program + "\n";
    const auto refused = [&](const std::string& arg) {
        return program + ": unexpected argument '" + arg + "'\n\n" + usage_start;
    };
    return {
        {"None", {}, true, 0, "", ""},
        {"Help", {"--help"}, false, 0, usage_start, ""},
        {"Version", {"--version"}, false, 0, program + " " + std::string(dicttools::kVersion) + "\n", ""},
        {"UnknownOption", {"--force"}, false, 64, "", refused("--force")},
        {"FileName", {"mylist.txt"}, false, 64, "", refused("mylist.txt")},
    };
}

/// Checks a run that `c` says ends at once: its status and both streams.
inline void expect_ended_at_once(const ProgramRun& run, const ArgumentCase& c) {
    EXPECT_EQ(run.exit_status, c.exit_status);
    EXPECT_TRUE(run.output.starts_with(c.output_start)) << run.output;
    EXPECT_TRUE(run.errors.starts_with(c.errors_start)) << run.errors;
    EXPECT_EQ(run.errors.empty(), c.errors_start.empty()) << run.errors;
}

}  // namespace testing_support
