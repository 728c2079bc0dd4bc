// The command lines the three programs are tried with: those they all read
// alike, then each program's own. A command line a program refuses ends it
// at once with status 64, two lines on standard error and nothing touched.
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
    bool runs = false;         // the program goes to work (checked by each program's test)
    int exit_status = 0;       // otherwise: the status it ends with at once,
    std::string output_start;  // how its standard output begins,
    std::string errors;        // and its whole standard error
};

inline std::vector<ArgumentCase> argument_cases(const std::string& program) {
    const std::string usage_start = "usage: " + program;
    const auto refused = [&](const std::string& complaint) {
        return program + ": " + complaint + "\nTry '" + program + " --help'.\n";
    };
    std::vector<ArgumentCase> cases = {
        {"Help", {"--help"}, false, 0, usage_start, ""},
        {"ShortHelp", {"-h"}, false, 0, usage_start, ""},
        {"Version", {"--version"}, false, 0, program + " " + std::string(dicttools::kVersion) + "\n", ""},
        {"UnknownOption", {"--fast"}, false, 64, "", refused("unknown option '--fast'")},
        {"ValueForHelp", {"--help=all"}, false, 64, "", refused("option '--help' takes no value")},
    };
    const auto add = [&cases](std::vector<ArgumentCase> own) { cases.insert(cases.end(), own.begin(), own.end()); };
    if (program == "dictbuild") {
        add({
            {"None", {}, true, 0, "", ""},
            {"FolderAndListAfterDoubleDash", {"--directory=.", "--", "dic.txt"}, true, 0, "", ""},
            {"TwoLists", {"dic.txt", "more.txt"}, false, 64, "", refused("unexpected argument 'more.txt'")},
            {"EmptyListName", {""}, false, 64, "", refused("unexpected argument ''")},
            {"FolderWithoutName", {"dic.txt", "-C"}, false, 64, "", refused("option '-C' needs a value")},
        });
    } else if (program == "flashprog") {
        add({
            {"None", {}, true, 0, "", ""},
            {"PortAfterTheCommand", {"verify", "x.uns", "--port", "com2"}, true, 0, "", ""},
            {"SaveToANamedFile", {"-pCOM1", "save", "x.sav"}, true, 0, "", ""},
            {"FileName", {"mylist.txt"}, false, 64, "", refused("unknown command 'mylist.txt'")},
            {"PortWithoutCommand",
             {"-p", "COM2"},
             false,
             64,
             "",
             refused("no command named: program, erase, download, verify or save")},
            {"EraseWithAFile", {"erase", "dic.uns"}, false, 64, "", refused("unexpected argument 'dic.uns'")},
            {"EmptyPort", {"--port=", "erase"}, false, 64, "", refused("the port name is empty")},
            {"EmptyFileName", {"save", ""}, false, 64, "", refused("the file name is empty")},
            {"ForceWithoutAnImage",
             {"--force", "save"},
             false,
             64,
             "",
             refused("--force goes with program, download and verify, which check an image")},
        });
    } else if (program == "dictinfo") {
        add({
            {"FileAfterDoubleDash", {"--", "--missing.uns"}, true, 0, "", ""},
            {"NoFile", {}, false, 64, "", refused("no file named")},
            {"TwoFiles", {"a.uns", "b.uns"}, false, 64, "", refused("unexpected argument 'b.uns'")},
            {"BothReadings", {"--linear", "--prom", "x.uns"}, false, 64, "", refused("unexpected argument '--prom'")},
            {"DiffOfOne", {"--diff", "a.uns"}, false, 64, "", refused("--diff needs two files")},
            {"WordListReadAsImage",
             {"--prom", "--word-list", "a.txt"},
             false,
             64,
             "",
             refused("unexpected argument '--prom'")},
        });
    }
    return cases;
}

/// Checks a run that `c` says ends at once: its status and both streams.
inline void expect_ended_at_once(int exit_status, const std::string& output, const std::string& errors,
                                 const ArgumentCase& c) {
    EXPECT_EQ(exit_status, c.exit_status);
    EXPECT_TRUE(output.starts_with(c.output_start)) << output;
    EXPECT_EQ(c.output_start.empty(), output.empty()) << output;
    EXPECT_EQ(errors, c.errors);
}

/// The same of a program run.
inline void expect_ended_at_once(const ProgramRun& run, const ArgumentCase& c) {
    expect_ended_at_once(run.exit_status, run.output, run.errors, c);
}

}  // namespace testing_support
