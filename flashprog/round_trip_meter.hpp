// Timing the round trips of a transfer, to show how long it takes and to
// tell the user when an adapter holds the answers back.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "link.hpp"

namespace flashprog {

/// The round trips whose median decides whether the line is slow.
inline constexpr std::size_t kSampledRoundTrips = 1000;
/// A median round trip above this is slow: the wire alone needs about 0.52 ms.
inline constexpr std::chrono::microseconds kSlowRoundTrip{4000};

/// A Link that passes every byte through to another one and times each
/// round trip, from a send to the answer read after it; reads that find no
/// answer, or follow no send, are not timed. When the median of the first
/// kSampledRoundTrips is above kSlowRoundTrip it prints, once, on `errors`:
/// that time, what the whole transfer will take at that rate, the likely
/// cause and the lines of `latency_advice` (asked for only then).
class RoundTripMeter final : public Link {
public:
    RoundTripMeter(Link& link, Clock clock, std::ostream& errors, std::function<std::string()> latency_advice);

    void send(std::uint8_t byte) override;
    int read(std::chrono::milliseconds timeout) override;

    /// Prints one line on `errors`: the time from the first send to the last
    /// answer, and the time per round trip. Nothing when none was answered.
    void report_total() const;

private:
    void record(std::chrono::steady_clock::duration round_trip);

    Link& link_;
    Clock clock_;
    std::ostream& errors_;
    std::function<std::string()> latency_advice_;
    std::optional<std::chrono::steady_clock::time_point> sent_at_;  // of the byte awaiting its answer
    std::optional<std::chrono::steady_clock::time_point> first_sent_;
    std::chrono::steady_clock::time_point last_answer_{};
    std::size_t round_trips_ = 0;
    std::vector<std::chrono::steady_clock::duration> samples_;  // the first kSampledRoundTrips
};

/// A span of time as a user reads it: "45.3 s", "14 min 5 s", "2 h 20 min".
std::string format_duration(std::chrono::steady_clock::duration span);

}  // namespace flashprog
