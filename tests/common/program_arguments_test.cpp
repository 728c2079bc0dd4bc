#include "program_arguments.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <sstream>
#include <variant>

#include "support/case_name.hpp"
#include "version.hpp"

namespace dicttools {
namespace {

constexpr std::string_view kUsage = "usage: tool\n";
constexpr Option kOptions[] = {{"port", 'p', true}, {"quiet", 'q', false}};
constexpr CommandLine kLine{"tool", kUsage, kOptions};

struct Case {
    std::string name;
    std::vector<std::string> args;
    // What it is read as: the options given (name=value) and the operands ...
    std::vector<std::string> options;
    std::vector<std::string> operands;
    // ... unless it ends at once: status, standard output, the first line of standard error.
    std::optional<EarlyExit> exit;
};

class ParseArguments : public testing::TestWithParam<Case> {};

TEST_P(ParseArguments, ReadsTheWholeCommandLine) {
    const Case& c = GetParam();
    const auto parsed = parse_arguments(c.args, kLine);
    if (c.exit) {
        const auto* exit = std::get_if<EarlyExit>(&parsed);
        ASSERT_NE(exit, nullptr);
        EXPECT_EQ(exit->exit_status, c.exit->exit_status);
        EXPECT_EQ(exit->output, c.exit->output);
        EXPECT_EQ(exit->errors, c.exit->errors.empty() ? "" : c.exit->errors + "\nTry 'tool --help'.\n");
        return;
    }
    const auto* arguments = std::get_if<Arguments>(&parsed);
    ASSERT_NE(arguments, nullptr) << std::get<EarlyExit>(parsed).errors;
    std::vector<std::string> options;
    for (const Arguments::Given& given : arguments->options) {
        options.push_back(given.name + "=" + given.value);
    }
    EXPECT_EQ(options, c.options);
    EXPECT_EQ(arguments->operands, c.operands);
    const auto last = std::find_if(options.rbegin(), options.rend(), [](auto& o) { return o.starts_with("port="); });
    EXPECT_EQ(arguments->value_of("port"), last != options.rend() ? std::optional(last->substr(5)) : std::nullopt);
}

const EarlyExit kHelp{0, "usage: tool\n", ""};
EarlyExit refused(const std::string& complaint) { return {64, "", "tool: " + complaint}; }

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ParseArguments,
    testing::Values(
        Case{"None", {}, {}, {}, {}}, Case{"Help", {"--help"}, {}, {}, kHelp},
        Case{"HelpAfterAnOperand", {"mylist.txt", "--help"}, {}, {}, kHelp},
        Case{"Version", {"--version"}, {}, {}, EarlyExit{0, "tool " + std::string(kVersion) + "\n", ""}},
        Case{"WrongOptionBeforeHelp", {"--force", "-h"}, {}, {}, refused("unknown option '--force'")},
        Case{"UnknownShortOption", {"-x"}, {}, {}, refused("unknown option '-x'")},
        Case{"UnknownOptionShownEscaped", {"--\x1b]0;x\n"}, {}, {}, refused(R"(unknown option '--\x1B]0;x\x0A')")},
        Case{"ValueForAFlag", {"--quiet=yes"}, {}, {}, refused("option '--quiet' takes no value")},
        Case{"LongValueMissing", {"erase", "--port"}, {}, {}, refused("option '--port' needs a value")},
        Case{"ShortValueMissing", {"-p"}, {}, {}, refused("option '-p' needs a value")},
        Case{"ValueEveryWay",
             {"-pA", "-p", "B", "--port=C", "--port", "D", "--port="},
             {"port=A", "port=B", "port=C", "port=D", "port="},
             {},
             {}},
        Case{"ValueThatLooksLikeAnOption", {"-p", "--help", "x"}, {"port=--help"}, {"x"}, {}},
        Case{"FlagsTogetherThenAValue", {"-qqpCOM2", "x"}, {"quiet=", "quiet=", "port=COM2"}, {"x"}, {}},
        Case{"OperandsAroundOptions", {"save", "-q", "out.sav"}, {"quiet="}, {"save", "out.sav"}, {}},
        Case{"DoubleDashEndsTheOptions", {"--", "-h", "--", "--port"}, {}, {"-h", "--", "--port"}, {}},
        Case{"DashAndEmptyAreOperands", {"-", ""}, {}, {"-", ""}, {}}),
    testing_support::CaseName{});

TEST(FinishEarly, PrintsEachTextOnItsStreamAndReturnsTheStatus) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(finish_early({64, "to out", "to err"}, "tool", out, err), 64);
    EXPECT_EQ(out.str(), "to out");
    EXPECT_EQ(err.str(), "to err");

    std::ostringstream closed;
    closed.setstate(std::ios::badbit);
    std::ostringstream said;
    EXPECT_EQ(finish_early({0, "usage", ""}, "tool", closed, said), 74);
    EXPECT_EQ(said.str(), "tool: cannot write the output\n");
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
