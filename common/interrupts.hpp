// Interrupts: Ctrl+C, Ctrl+\, a request to terminate, a console that goes
// away, and the other signals that end a program by default.
//
// A handler only records which signal came. The long loops ask, and end
// their work the ordinary way, so that destructors restore ports and
// consoles and remove temporary files before the program exits.
#pragma once

#include <atomic>
#include <chrono>

namespace dicttools {

/// What the long loops look at between steps.
class StopRequest {
public:
    virtual ~StopRequest() = default;

    /// The number of the signal that asked the run to stop (one of those
    /// ProcessInterrupts records); 0 while none has. The
    /// first signal counts: later ones do not change it.
    virtual int signal() const = 0;

    bool requested() const { return signal() != 0; }

    /// Whether `signal` asks the run to stop: false for one that is ignored
    /// (see ProcessInterrupts), so that a prompt offers Ctrl+C only where
    /// it ends the run.
    virtual bool stops_on(int /*signal*/) const { return true; }
};

/// A stop request made by hand: for tests, and for runs that cannot be
/// interrupted (it is never requested unless request() is called).
class ManualStop final : public StopRequest {
public:
    void request(int signal) {
        int none = 0;
        signal_.compare_exchange_strong(none, signal);
    }
    int signal() const override { return signal_.load(); }
    bool stops_on(int signal) const override { return signal != ignored; }

    int ignored = 0;  // a signal that stops_on() says does not stop the run, as one ignored at start

private:
    std::atomic<int> signal_{0};
};

/// The exit status of a run ended by `signal`, as a shell reports a program
/// killed by it: 128 + its number (130 for Ctrl+C, 131 for Ctrl+\).
constexpr int exit_status_for_signal(int signal) { return 128 + signal; }

/// The longest a blocking wait goes on without looking at the stop request.
/// A signal normally cuts a wait short at once; this bounds the wait when
/// it came just before the wait began.
inline constexpr std::chrono::milliseconds kStopCheckInterval{100};

/// For a program that writes to a pipe but has no long work to end the
/// ordinary way: a closed pipe then shows as a failed write, to be reported
/// and given an exit status, instead of killing the program (POSIX: SIGPIPE
/// is ignored from here on; nothing to do on Windows).
void ignore_broken_pipe();

/// The process's own interrupts, for as long as this object lives:
///  - POSIX: SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2 and SIGALRM
///    are recorded, not acted on: every catchable signal whose default is to
///    end the program ends it the ordinary way, restoring the console and
///    the port and removing temporary files. They do not restart an
///    interrupted system call, so a wait in poll() or read() returns at once
///    with EINTR and its loop can look at signal().
///  - POSIX: a signal that was ignored when this object was made stays
///    ignored (a run under nohup, a background job of a shell without job
///    control): it neither stops the run nor is recorded. One that was
///    blocked is unblocked while this object lives, so that it arrives.
///  - Windows: Ctrl+C (SIGINT), Ctrl+Break (SIGBREAK) and closing the
///    console, logging off or shutting down (reported as SIGHUP, 1) are
///    recorded. On a close the system ends the process some seconds after
///    the handler returns, so the handler holds it back until the program
///    has exited the ordinary way.
///  - SIGPIPE is ignored (POSIX): a closed standard output or pipe shows
///    as a failed write instead of killing the program half-way. So is
///    SIGXFSZ: a write past the user's file-size limit fails (EFBIG) and
///    is reported, and the temporary file is removed.
/// The earlier handlers come back when it is destroyed. At most one may
/// exist at a time.
class ProcessInterrupts final : public StopRequest {
public:
    ProcessInterrupts();
    ProcessInterrupts(const ProcessInterrupts&) = delete;
    ProcessInterrupts& operator=(const ProcessInterrupts&) = delete;
    ~ProcessInterrupts() override;

    int signal() const override;
    /// False for a signal that was ignored at start, or that is not one of
    /// those recorded.
    bool stops_on(int signal) const override;
};

}  // namespace dicttools
