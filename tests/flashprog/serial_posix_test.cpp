// The POSIX serial link over a pseudo-terminal pair.
#include <sys/ioctl.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

#include "console_text.hpp"
#include "serial_port.hpp"
#include "support/pseudo_terminal.hpp"
#include "support/temp_folder.hpp"

namespace flashprog {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing_support::PseudoTerminal;
using testing_support::Watcher;

constexpr milliseconds kShortWait{50};
constexpr milliseconds kGenerousBound{2000};  // only a hang would take this long

const dicttools::ManualStop kNoStop;

TEST(SerialLink, RoundTrip) {
    const PseudoTerminal line;
    const auto link = open_serial_port(line.far_path(), kNoStop);
    link->send('P');
    EXPECT_EQ(line.read(kGenerousBound), std::optional<std::uint8_t>('P'));
    line.write(0x06);
    EXPECT_EQ(link->read(kGenerousBound), 0x06);
}

TEST(SerialLink, TimeoutIsNoResponseAndTheLinkGoesOn) {
    const PseudoTerminal line;
    const auto link = open_serial_port(line.far_path(), kNoStop);
    const auto start = steady_clock::now();
    EXPECT_EQ(link->read(kShortWait), kNoResponse);
    const auto waited = steady_clock::now() - start;
    EXPECT_GE(waited, kShortWait);
    EXPECT_LT(waited, kGenerousBound);

    line.write(0x41);
    EXPECT_EQ(link->read(kGenerousBound), 0x41);
}

TEST(SerialLink, EveryByteValuePassesUnchangedBothWays) {
    const PseudoTerminal line;
    const auto link = open_serial_port(line.far_path(), kNoStop);
    std::vector<int> sent_by_host;
    std::vector<int> seen_by_unit;
    std::vector<int> sent_by_unit;
    std::vector<int> seen_by_host;
    for (int value = 0; value < 256; ++value) {
        const auto byte = static_cast<std::uint8_t>(value);
        link->send(byte);
        sent_by_host.push_back(value);
        seen_by_unit.push_back(line.read(kGenerousBound).value_or(-1));
        line.write(byte);
        sent_by_unit.push_back(value);
        seen_by_host.push_back(link->read(kGenerousBound));
    }
    EXPECT_EQ(seen_by_unit, sent_by_host);
    EXPECT_EQ(seen_by_host, sent_by_unit);
}

TEST(SerialLink, HangUpIsNoResponseAtOnce) {
    PseudoTerminal line;
    const auto link = open_serial_port(line.far_path(), kNoStop);
    line.hang_up();
    const auto start = steady_clock::now();
    EXPECT_EQ(link->read(milliseconds{10000}), kNoResponse);
    EXPECT_EQ(link->read(milliseconds{10000}), kNoResponse);
    link->send(0x01);  // must neither throw nor block
    EXPECT_LT(steady_clock::now() - start, kGenerousBound);
}

TEST(SerialLink, StopRequestEndsTheWait) {
    for (const bool before_the_wait : {true, false}) {
        const PseudoTerminal line;
        dicttools::ManualStop stop;
        const auto link = open_serial_port(line.far_path(), stop);
        if (before_the_wait) {
            stop.request(SIGTERM);
        }
        std::thread signaller([&stop] { stop.request(SIGINT); });  // while the read waits, or before it
        EXPECT_EQ(link->read(milliseconds{70000}), kInterrupted) << before_the_wait;
        signaller.join();
        line.write(0x41);
        EXPECT_EQ(link->read(kGenerousBound), kInterrupted) << "every later read too";
    }
}

TEST(SerialLink, AfterAStopTheAnswerOnItsWayIsTakenAndNothingMoreIsSent) {
    const PseudoTerminal line;
    dicttools::ManualStop stop;
    const auto link = open_serial_port(line.far_path(), stop);
    link->send('P');
    ASSERT_EQ(line.read(kGenerousBound), std::optional<std::uint8_t>('P'));
    stop.request(SIGINT);
    line.write(0x06);
    EXPECT_EQ(link->read(kGenerousBound), 0x06) << "the unit answered it: it counts";
    link->send(0x01);
    EXPECT_EQ(line.read(kShortWait), std::nullopt) << "nothing is sent after the stop";
    EXPECT_EQ(link->read(kGenerousBound), kInterrupted);
}

TEST(SerialLink, HeldPortIsRefused) {
    const PseudoTerminal line;
    const auto held = open_serial_port(line.far_path(), kNoStop);
    try {
        open_serial_port(line.far_path(), kNoStop);
        FAIL() << "a second open succeeded";
    } catch (const LinkError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "cannot open " + line.far_path() + ": the port is in use by another program");
    }
}

TEST(SerialLink, PortsThatAreNoSerialLines) {
    const testing_support::TempFolder folder;
    folder.write("plain-file", "");
    struct Case {
        std::string device;
        std::string reason;
    };
    for (const Case& c : {Case{(folder / "missing").string(), "No such file or directory"},
                          Case{(folder / "plain-file").string(), "Inappropriate ioctl for device"},
                          // Named as the port variable or -p gave it, control bytes and all.
                          Case{(folder / "a\nb\x1b[31m").string(), "No such file or directory"}}) {
        try {
            open_serial_port(c.device, kNoStop);
            ADD_FAILURE() << c.device << " opened";
        } catch (const LinkError& error) {
            EXPECT_EQ(std::string(error.what()),
                      "cannot open " + dicttools::printable_name(c.device) + ": " + c.reason);
        }
    }
}

TEST(SerialLink, RestoresTheSettingsItFound) {
    const PseudoTerminal line;
    const Watcher watcher(line.far_path());
    ASSERT_GE(watcher.fd(), 0);
    termios before{};
    ::tcgetattr(watcher.fd(), &before);
    before.c_lflag |= ECHO | ICANON;
    ::cfsetospeed(&before, B9600);
    ::tcsetattr(watcher.fd(), TCSANOW, &before);

    int exclusive = -1;
    {
        const auto link = open_serial_port(line.far_path(), kNoStop);
        termios during{};
        ::tcgetattr(watcher.fd(), &during);
        EXPECT_EQ(during.c_lflag & (ECHO | ICANON), 0U);
        EXPECT_EQ(::cfgetospeed(&during), static_cast<speed_t>(B38400));
        ASSERT_EQ(::ioctl(watcher.fd(), TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
    }
    ASSERT_EQ(::ioctl(watcher.fd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "the line is open to others again";
    termios after{};
    ::tcgetattr(watcher.fd(), &after);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(::cfgetospeed(&after), static_cast<speed_t>(B9600));
}

}  // namespace
}  // namespace flashprog
