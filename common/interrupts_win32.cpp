// Windows: a console control handler that records the event as a signal.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cassert>
#include <csignal>

#include "interrupts.hpp"

namespace dicttools {

namespace {

constexpr int kHangUp = 1;  // the console went away: what SIGHUP is on POSIX

// The handler runs on a thread of its own and can reach only static data.
volatile LONG received = 0;
bool installed = false;

int signal_for(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
            return SIGINT;
        case CTRL_BREAK_EVENT:
            return SIGBREAK;
        default:
            return kHangUp;  // close, log-off, shutdown
    }
}

BOOL WINAPI record_event(DWORD event) {
    ::InterlockedCompareExchange(&received, signal_for(event), 0);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        return TRUE;
    }
    // After a close the system ends the process as soon as this returns
    // (or some seconds later at most): hold it back here until the program
    // has finished its work and exits, which ends this thread too.
    for (;;) {
        ::Sleep(INFINITE);
    }
}

}  // namespace

void ignore_broken_pipe() {}

ProcessInterrupts::ProcessInterrupts() {
    assert(!installed && "only one ProcessInterrupts at a time");
    installed = true;
    ::InterlockedExchange(&received, 0);
    ::SetConsoleCtrlHandler(record_event, TRUE);
}

ProcessInterrupts::~ProcessInterrupts() {
    ::SetConsoleCtrlHandler(record_event, FALSE);
    installed = false;
}

int ProcessInterrupts::signal() const { return static_cast<int>(::InterlockedCompareExchange(&received, 0, 0)); }

bool ProcessInterrupts::stops_on(int signal) const {
    return signal == SIGINT || signal == SIGBREAK || signal == kHangUp;
}

}  // namespace dicttools
