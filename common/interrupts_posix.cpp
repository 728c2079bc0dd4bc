// POSIX: sigaction handlers that record the signal and nothing else.

#include <algorithm>
#include <array>
#include <cassert>
#include <csignal>

#include "interrupts.hpp"

namespace dicttools {

namespace {

// A signal handler can reach nothing but a static object of this type.
volatile std::sig_atomic_t received = 0;
bool installed = false;

// Every signal whose default action ends the program and that a user or a
// script sends to end it: each would otherwise leave a raw console, an
// exclusive port or a temporary file behind.
constexpr std::array kRecorded{SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};
// Signals that would kill the program where a failed call says the same.
constexpr std::array kIgnored{SIGPIPE, SIGXFSZ};

constexpr std::size_t kHandled = kRecorded.size() + kIgnored.size();
std::array<int, kHandled> changed{};  // the signals whose action was replaced
std::array<struct sigaction, kHandled> previous{};
std::size_t changed_count = 0;
sigset_t mask_before{};  // the signals blocked before, blocked again at the end

extern "C" void record_signal(int signal) {
    if (received == 0) {
        received = signal;
    }
}

/// Gives `signal` the action `action` and keeps its earlier one, unless it
/// was ignored already: then it stays ignored (nohup, a background job of a
/// shell without job control).
void replace_action(int signal, const struct sigaction& action) {
    struct sigaction earlier {};
    if (::sigaction(signal, nullptr, &earlier) != 0 || earlier.sa_handler == SIG_IGN) {
        return;
    }
    if (::sigaction(signal, &action, &previous[changed_count]) == 0) {
        changed[changed_count++] = signal;
    }
}

}  // namespace

void ignore_broken_pipe() { std::signal(SIGPIPE, SIG_IGN); }

ProcessInterrupts::ProcessInterrupts() {
    assert(!installed && "only one ProcessInterrupts at a time");
    installed = true;
    received = 0;
    changed_count = 0;
    struct sigaction record {};
    record.sa_handler = record_signal;
    sigemptyset(&record.sa_mask);
    record.sa_flags = 0;  // no SA_RESTART: a waiting system call returns EINTR
    for (const int signal : kRecorded) {
        replace_action(signal, record);
    }
    // A signal recorded here and blocked by whoever started the program
    // would never arrive: Ctrl+C would do nothing.
    sigset_t recorded{};
    sigemptyset(&recorded);
    for (std::size_t i = 0; i < changed_count; ++i) {
        sigaddset(&recorded, changed[i]);
    }
    ::pthread_sigmask(SIG_UNBLOCK, &recorded, &mask_before);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (const int signal : kIgnored) {
        replace_action(signal, ignore);
    }
}

ProcessInterrupts::~ProcessInterrupts() {
    ::pthread_sigmask(SIG_SETMASK, &mask_before, nullptr);
    while (changed_count > 0) {
        --changed_count;
        ::sigaction(changed[changed_count], &previous[changed_count], nullptr);
    }
    installed = false;
}

int ProcessInterrupts::signal() const { return received; }

bool ProcessInterrupts::stops_on(int signal) const {
    const int* const begin = changed.data();
    const int* const end = begin + changed_count;
    return std::find(begin, end, signal) != end &&
           std::find(kRecorded.begin(), kRecorded.end(), signal) != kRecorded.end();
}

}  // namespace dicttools
