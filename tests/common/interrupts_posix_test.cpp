#include <gtest/gtest.h>

#include <csignal>

#include "interrupts.hpp"

namespace dicttools {
namespace {

class ProcessInterruptsRecord : public testing::TestWithParam<int> {};

TEST_P(ProcessInterruptsRecord, TheFirstSignalUntilDestroyed) {
    {
        const ProcessInterrupts interrupts;
        EXPECT_FALSE(interrupts.requested());
        EXPECT_TRUE(interrupts.stops_on(GetParam()));
        ASSERT_EQ(std::raise(GetParam()), 0);  // would end the test program if not handled
        ASSERT_EQ(std::raise(GetParam() == SIGTERM ? SIGINT : SIGTERM), 0);
        EXPECT_EQ(interrupts.signal(), GetParam());
        EXPECT_EQ(exit_status_for_signal(interrupts.signal()), 128 + GetParam());
    }
    struct sigaction restored {};
    ASSERT_EQ(::sigaction(GetParam(), nullptr, &restored), 0);
    EXPECT_EQ(restored.sa_handler, SIG_DFL);
}

INSTANTIATE_TEST_SUITE_P(Signals, ProcessInterruptsRecord,
                         testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM));

TEST(ProcessInterrupts, IgnoresABrokenPipeAndAFileTooLarge) {
    const ProcessInterrupts interrupts;
    ASSERT_EQ(std::raise(SIGPIPE), 0);  // would end the test program if not ignored
    ASSERT_EQ(std::raise(SIGXFSZ), 0);
    EXPECT_FALSE(interrupts.requested());
    EXPECT_FALSE(interrupts.stops_on(SIGPIPE));
}

TEST(ProcessInterrupts, ASignalBlockedAtStartArrivesAndIsBlockedAgainAfter) {
    sigset_t usr2{};
    sigemptyset(&usr2);
    sigaddset(&usr2, SIGUSR2);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &usr2, nullptr), 0);
    {
        const ProcessInterrupts interrupts;
        ASSERT_EQ(std::raise(SIGUSR2), 0);
        EXPECT_EQ(interrupts.signal(), SIGUSR2);
    }
    sigset_t after{};
    ASSERT_EQ(::pthread_sigmask(SIG_UNBLOCK, &usr2, &after), 0);
    EXPECT_EQ(sigismember(&after, SIGUSR2), 1);
}

TEST(ProcessInterrupts, ASignalIgnoredAtStartStaysIgnored) {
    const auto earlier = std::signal(SIGUSR1, SIG_IGN);
    {
        const ProcessInterrupts interrupts;
        EXPECT_FALSE(interrupts.stops_on(SIGUSR1));
        ASSERT_EQ(std::raise(SIGUSR1), 0);
        EXPECT_FALSE(interrupts.requested());
    }
    std::signal(SIGUSR1, earlier);
}

TEST(ManualStop, KeepsTheFirstRequest) {
    ManualStop stop;
    EXPECT_FALSE(stop.requested());
    stop.request(SIGTERM);
    stop.request(SIGINT);
    EXPECT_EQ(stop.signal(), SIGTERM);
}

}  // namespace
}  // namespace dicttools
