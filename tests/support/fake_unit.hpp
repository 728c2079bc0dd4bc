// A unit on a fake line, in process: answers through a UnitModel and keeps
// its own clock, so that waits of seconds cost no time at all.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

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

    /// Every byte the host sent, in order.
    std::vector<std::uint8_t> sent;
    /// The timeout of every read, in order.
    std::vector<std::chrono::milliseconds> read_timeouts;
    /// The fake clock: how long the host has waited in all.
    std::chrono::milliseconds waited{0};

    void send(std::uint8_t byte) override {
        sent.push_back(byte);
        const UnitModel::Answer answer = model.answer(byte);
        if (answers_left && *answers_left == 0) {
            pending_.reset();
            return;
        }
        if (answers_left) {
            --*answers_left;
        }
        pending_ = answer;
    }

    int read(std::chrono::milliseconds timeout) override {
        read_timeouts.push_back(timeout);
        if (!chatter.empty()) {
            const std::uint8_t byte = chatter.front();
            chatter.pop_front();
            return byte;
        }
        if (pending_ && pending_->delay <= timeout) {
            waited += pending_->delay;
            return std::exchange(pending_, std::nullopt)->byte;
        }
        waited += timeout;
        pending_.reset();  // an answer later than the wait is lost
        return flashprog::kNoResponse;
    }

private:
    std::optional<UnitModel::Answer> pending_;
};

}  // namespace testing_support
