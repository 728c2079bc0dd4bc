#include "program_arguments.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "support/case_name.hpp"
#include "version.hpp"

namespace dicttools {
namespace {

constexpr std::string_view kUsage = "usage: tool\n";

struct Case {
    std::string name;
    std::vector<std::string> args;
    bool runs;
    EarlyExit exit;
};

class EarlyExitFor : public testing::TestWithParam<Case> {};

TEST_P(EarlyExitFor, DecidesFromTheWholeCommandLine) {
    const Case& c = GetParam();
    const std::optional<EarlyExit> exit = early_exit_for(c.args, "tool", kUsage);
    ASSERT_EQ(exit.has_value(), !c.runs);
    if (exit) {
        EXPECT_EQ(exit->exit_status, c.exit.exit_status);
        EXPECT_EQ(exit->output, c.exit.output);
        EXPECT_EQ(exit->errors, c.exit.errors);
    }
}

std::string refused(const std::string& arg) { return "tool: unexpected argument '" + arg + "'\n\nusage: tool\n"; }

INSTANTIATE_TEST_SUITE_P(
    CommandLines, EarlyExitFor,
    testing::Values(Case{"None", {}, true, {}}, Case{"Help", {"--help"}, false, {0, "usage: tool\n", ""}},
                    Case{"Version", {"--version"}, false, {0, "tool " + std::string(kVersion) + "\n", ""}},
                    Case{"UnknownOption", {"--force"}, false, {64, "", refused("--force")}},
                    Case{"ShortOption", {"-h"}, false, {64, "", refused("-h")}},
                    Case{"FileName", {"mylist.txt"}, false, {64, "", refused("mylist.txt")}},
                    Case{"EmptyArgument", {""}, false, {64, "", refused("")}},
                    Case{"HelpWithAFileName", {"--help", "mylist.txt"}, false, {64, "", refused("mylist.txt")}},
                    Case{"FileNameBeforeHelp", {"mylist.txt", "--help"}, false, {64, "", refused("mylist.txt")}},
                    Case{"BothOptions", {"--version", "--help"}, false, {64, "", refused("--help")}}),
    testing_support::CaseName{});

TEST(FinishEarly, PrintsEachTextOnItsStreamAndReturnsTheStatus) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(finish_early({64, "to out", "to err"}, out, err), 64);
    EXPECT_EQ(out.str(), "to out");
    EXPECT_EQ(err.str(), "to err");
}

TEST(Version, IsThreeNumbers) {
    int major = -1;
    int minor = -1;
    int patch = -1;
    char rest = 0;
    EXPECT_EQ(std::sscanf(std::string(kVersion).c_str(), "%d.%d.%d%c", &major, &minor, &patch, &rest), 3) << kVersion;
}

}  // namespace
}  // namespace dicttools
