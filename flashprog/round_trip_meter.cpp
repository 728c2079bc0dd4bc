#include "round_trip_meter.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "unit_protocol.hpp"

namespace flashprog {

namespace {

using std::chrono::duration;
using std::chrono::steady_clock;

double milliseconds(steady_clock::duration span) { return duration<double, std::milli>(span).count(); }

}  // namespace

std::string format_duration(steady_clock::duration span) {
    const double seconds = duration<double>(span).count();
    char text[48];
    if (seconds < 59.95) {  // what rounds to less than a minute
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    } else if (const long whole = std::lround(seconds); whole < 3600) {
        std::snprintf(text, sizeof text, "%ld min %ld s", whole / 60, whole % 60);
    } else {
        const long minutes = std::lround(seconds / 60);
        std::snprintf(text, sizeof text, "%ld h %ld min", minutes / 60, minutes % 60);
    }
    return text;
}

RoundTripMeter::RoundTripMeter(Link& link, Clock clock, std::ostream& errors,
                               std::function<std::string()> latency_advice)
    : link_(link), clock_(std::move(clock)), errors_(errors), latency_advice_(std::move(latency_advice)) {
    samples_.reserve(kSampledRoundTrips);
}

void RoundTripMeter::send(std::uint8_t byte) {
    sent_at_ = clock_();
    if (!first_sent_) {
        first_sent_ = sent_at_;
    }
    link_.send(byte);
}

int RoundTripMeter::read(std::chrono::milliseconds timeout) {
    const int answer = link_.read(timeout);
    if (answer >= 0 && sent_at_) {  // a byte, not kNoResponse or kInterrupted
        last_answer_ = clock_();
        record(last_answer_ - *sent_at_);
    }
    sent_at_.reset();
    return answer;
}

void RoundTripMeter::record(steady_clock::duration round_trip) {
    ++round_trips_;
    if (samples_.size() == kSampledRoundTrips) {
        return;
    }
    samples_.push_back(round_trip);
    if (samples_.size() < kSampledRoundTrips) {
        return;
    }
    std::vector<steady_clock::duration> sorted = samples_;
    std::sort(sorted.begin(), sorted.end());
    const steady_clock::duration median = (sorted[kSampledRoundTrips / 2 - 1] + sorted[kSampledRoundTrips / 2]) / 2;
    if (median <= kSlowRoundTrip) {
        return;
    }
    char line[200];
    std::snprintf(line, sizeof line,
                  "flashprog: each round trip to the unit takes %.1f ms: the whole transfer of %zu bytes will take "
                  "about %s at that rate\n",
                  milliseconds(median), kFlashSize,
                  format_duration(median * static_cast<steady_clock::rep>(kFlashSize)).c_str());
    errors_ << line
            << "flashprog: the likely cause is the latency timer of a USB serial adapter, which holds each answer "
               "back; at 1 ms a transfer takes about 10 to 14 min\n";
    if (latency_advice_) {
        errors_ << latency_advice_();
    }
    errors_ << std::flush;
}

void RoundTripMeter::report_total() const {
    if (round_trips_ == 0) {
        return;
    }
    const steady_clock::duration taken = last_answer_ - *first_sent_;
    char line[160];
    std::snprintf(line, sizeof line, "flashprog: the transfer took %s for %zu round trips, %.3f ms each\n",
                  format_duration(taken).c_str(), round_trips_,
                  milliseconds(taken) / static_cast<double>(round_trips_));
    errors_ << line << std::flush;
}

}  // namespace flashprog
