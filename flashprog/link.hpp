// The byte link to the unit: everything the unit commands need of a serial line.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>

namespace flashprog {

/// What Link::read() returns when no byte came in time.
inline constexpr int kNoResponse = -802;

/// What Link::read() returns when the run was asked to stop (Ctrl+C, a
/// request to terminate, a hang-up) before or while it waited, once the
/// answer to a byte already sent has been taken (see Link::read()). Every
/// later read returns it too, at once.
inline constexpr int kInterrupted = -803;

/// The clock waits and round trips are timed by (steady_clock::now, or a test's own).
using Clock = std::function<std::chrono::steady_clock::time_point()>;

/// A line to the unit that carries single bytes each way.
class Link {
public:
    virtual ~Link() = default;

    /// Puts one byte on the line at once. A line that has failed does not
    /// throw here: the failure shows as kNoResponse on the next read. Once
    /// the run was asked to stop, nothing more is put on the line.
    virtual void send(std::uint8_t byte) = 0;

    /// Waits at most `timeout` for one byte and returns it (0 to 255), or
    /// kNoResponse when none arrived in time. A line that fails (an error,
    /// a hang-up, a vanished device) also reads as kNoResponse, at once: a
    /// failure is never taken for a reply. A stop request ends the wait
    /// with kInterrupted, within dicttools::kStopCheckInterval at most;
    /// when the read awaits the answer to a byte sent, an answer that comes
    /// in that time is still returned first, so that every byte the unit
    /// answered is counted.
    virtual int read(std::chrono::milliseconds timeout) = 0;
};

/// A port that could not be opened; what() names the device (as
/// dicttools::printable_name() writes it) and the reason.
class LinkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace flashprog
