// A Link that forwards to another one: handed to the programmer, which owns
// and ends its link, while the test keeps the fake unit behind it and can
// look at it after the run.
#pragma once

#include <chrono>
#include <cstdint>

#include "link.hpp"

namespace testing_support {

class LinkTo final : public flashprog::Link {
public:
    explicit LinkTo(flashprog::Link& target) : target_(target) {}
    void send(std::uint8_t byte) override { target_.send(byte); }
    int read(std::chrono::milliseconds timeout) override { return target_.read(timeout); }

private:
    flashprog::Link& target_;
};

}  // namespace testing_support
