// The Win32 serial link against the emulated unit, when the run provides
// one: DICTTOOLS_TEST_SERIAL_PORT names its port (tools/windows_tests.sh
// maps \\.\COM9 onto the emulator's pseudo-terminal through Wine's
// dosdevices). Skipped otherwise.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <vector>

#include "serial_port.hpp"

namespace flashprog {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kWait{2000};

TEST(Win32SerialLink, TalksToTheEmulatedUnit) {
    const char* port = std::getenv("DICTTOOLS_TEST_SERIAL_PORT");
    if (port == nullptr) {
        GTEST_SKIP() << "no emulated unit (DICTTOOLS_TEST_SERIAL_PORT is not set)";
    }
    const dicttools::ManualStop no_stop;
    const auto link = open_serial_port(port, no_stop);
    while (link->read(milliseconds{200}) != kNoResponse) {
    }
    EXPECT_EQ(link->read(milliseconds{50}), kNoResponse) << "a silent line times out";

    // The unit's flash holds address % 256 (tools/windows_tests.sh sets it
    // up so): every byte value comes up unchanged.
    link->send('V');
    std::vector<int> read_back = {link->read(kWait)};
    for (int address = 1; address < 256; ++address) {
        link->send(0x01);
        read_back.push_back(link->read(kWait));
    }
    std::vector<int> expected(256);
    for (int value = 0; value < 256; ++value) {
        expected[value] = value;
    }
    EXPECT_EQ(read_back, expected);

    // And every byte value goes down, each answered before the next is sent.
    link->send('P');
    ASSERT_NE(link->read(kWait), kNoResponse);
    for (int value = 0; value < 256; ++value) {
        link->send(static_cast<std::uint8_t>(value));
        EXPECT_NE(link->read(kWait), kNoResponse) << value;
    }
}

}  // namespace
}  // namespace flashprog
