#include "run_together.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "support/case_name.hpp"

namespace dicttools {
namespace {

/// Which of the two throw, and what run_together() lets out.
struct TogetherCase {
    const char* name;
    bool first_throws;
    bool second_throws;
    const char* thrown;  // the message of what comes out, or "" for nothing
};

class RunTogether : public testing::TestWithParam<TogetherCase> {};

TEST_P(RunTogether, BothEndBeforeAFailureComesOut) {
    const TogetherCase& c = GetParam();
    bool first_ended = false;
    bool second_ended = false;
    const auto work = [](bool throws, bool& ended, const char* message) {
        return [throws, &ended, message] {
            ended = true;
            if (throws) {
                throw std::runtime_error(message);
            }
        };
    };
    std::string thrown;
    try {
        run_together(work(c.first_throws, first_ended, "first"), work(c.second_throws, second_ended, "second"));
    } catch (const std::runtime_error& error) {
        thrown = error.what();
    }
    EXPECT_TRUE(first_ended && second_ended);
    EXPECT_EQ(thrown, c.thrown);
}

INSTANTIATE_TEST_SUITE_P(Failures, RunTogether,
                         testing::Values(TogetherCase{"None", false, false, ""},
                                         TogetherCase{"FirstOnly", true, false, "first"},
                                         TogetherCase{"SecondOnly", false, true, "second"},
                                         TogetherCase{"BothGiveTheFirsts", true, true, "first"}),
                         testing_support::CaseName{});

}  // namespace
}  // namespace dicttools
