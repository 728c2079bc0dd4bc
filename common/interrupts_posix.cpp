// POSIX: sigaction handlers that record the signal and nothing else.

#include <array>
#include <cassert>
#include <csignal>

#include "interrupts.hpp"

namespace dicttools {

namespace {

// A signal handler can reach nothing but a static object of this type.
volatile std::sig_atomic_t received = 0;
bool installed = false;

constexpr std::array kRecorded{SIGINT, SIGTERM, SIGHUP};
std::array<struct sigaction, kRecorded.size()> previous{};
// Signals that would kill the program where a failed call says the same.
constexpr std::array kIgnored{SIGPIPE, SIGXFSZ};
std::array<struct sigaction, kIgnored.size()> previous_ignored{};

extern "C" void record_signal(int signal) {
    if (received == 0) {
        received = signal;
    }
}

}  // namespace

void ignore_broken_pipe() { std::signal(SIGPIPE, SIG_IGN); }

ProcessInterrupts::ProcessInterrupts() {
    assert(!installed && "only one ProcessInterrupts at a time");
    installed = true;
    received = 0;
    struct sigaction record {};
    record.sa_handler = record_signal;
    sigemptyset(&record.sa_mask);
    record.sa_flags = 0;  // no SA_RESTART: a waiting system call returns EINTR
    for (std::size_t i = 0; i < kRecorded.size(); ++i) {
        ::sigaction(kRecorded[i], &record, &previous[i]);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (std::size_t i = 0; i < kIgnored.size(); ++i) {
        ::sigaction(kIgnored[i], &ignore, &previous_ignored[i]);
    }
}

ProcessInterrupts::~ProcessInterrupts() {
    for (std::size_t i = 0; i < kRecorded.size(); ++i) {
        ::sigaction(kRecorded[i], &previous[i], nullptr);
    }
    for (std::size_t i = 0; i < kIgnored.size(); ++i) {
        ::sigaction(kIgnored[i], &previous_ignored[i], nullptr);
    }
    installed = false;
}

int ProcessInterrupts::signal() const { return received; }

}  // namespace dicttools
