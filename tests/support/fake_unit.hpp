// A unit on a fake line, in process: answers through a UnitModel and keeps
// its own clock, so that waits of seconds cost no time at all.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "interrupts.hpp"
#include "link.hpp"
#include "support/unit_model.hpp"

namespace testing_support {

class FakeUnit final : public flashprog::Link {
public:
    UnitModel model;
    /// Bytes the unit sends of its own accord before any command.
    std::deque<std::uint8_t> chatter;
    /// After this many answers the unit falls silent for good.
    std::optional<std::size_t> answers_left;
    /// A byte the unit sends unasked, just before its answer to the host's
    /// byte number `after_sent` (counted from 0).
    struct Stray {
        std::size_t after_sent;
        std::uint8_t byte;
    };
    std::optional<Stray> stray;
    /// Once the host has sent anything, the unit sends a byte of its own
    /// this often whenever it owes no answer, as a floating line does.
    std::optional<std::chrono::milliseconds> keeps_sending_every;

    /// The stop request of the run: read number `interrupt_at_read`
    /// (counted from 0) finds it made (Ctrl+C), and every read from then on
    /// returns kInterrupted, as a real line's does.
    dicttools::ManualStop stop;
    std::optional<std::size_t> interrupt_at_read;
    /// Called before each read with its number (counted from 0), if set.
    std::function<void(std::size_t)> at_read;

    /// Every byte the host sent, in order.
    std::vector<std::uint8_t> sent;
    /// The timeout of every read, in order.
    std::vector<std::chrono::milliseconds> read_timeouts;
    /// The fake clock: how long the host has waited in all.
    std::chrono::milliseconds waited{0};

    void send(std::uint8_t byte) override {
        sent.push_back(byte);
        const std::optional<UnitModel::Answer> answer = model.answer(byte);
        if (!answer || (answers_left && *answers_left == 0)) {
            return;
        }
        if (answers_left) {
            --*answers_left;
        }
        if (stray && stray->after_sent == sent.size() - 1) {
            pending_.push_back({stray->byte, std::chrono::milliseconds{0}});
        }
        pending_.push_back(*answer);
    }

    int read(std::chrono::milliseconds timeout) override {
        if (at_read) {
            at_read(read_timeouts.size());
        }
        if (interrupt_at_read && read_timeouts.size() == *interrupt_at_read) {
            stop.request(SIGINT);
        }
        read_timeouts.push_back(timeout);
        if (stop.requested()) {
            return flashprog::kInterrupted;
        }
        if (!chatter.empty()) {
            const std::uint8_t byte = chatter.front();
            chatter.pop_front();
            return byte;
        }
        if (!pending_.empty() && pending_.front().delay <= timeout) {
            waited += pending_.front().delay;
            const std::uint8_t byte = pending_.front().byte;
            pending_.pop_front();
            return byte;
        }
        if (keeps_sending_every && pending_.empty() && !sent.empty() && *keeps_sending_every <= timeout) {
            waited += *keeps_sending_every;
            return 0x00;
        }
        waited += timeout;
        if (!pending_.empty()) {
            pending_.pop_front();  // an answer later than the wait is lost
        }
        return flashprog::kNoResponse;
    }

private:
    std::deque<UnitModel::Answer> pending_;
};

}  // namespace testing_support
