// Quiet mode: the dialogue without its progress lines.
#pragma once

#include <ostream>
#include <streambuf>
#include <string>

namespace flashprog {

/// Passes what is written on to `to`, leaving out the progress lines:
/// text from the start of a line to a carriage return, which the next
/// line would overwrite. A flush passes on the line begun so far (a
/// message without a line end, such as "Power down the unit."); every
/// other byte goes on as it came.
class WithoutProgress final : public std::streambuf {
public:
    explicit WithoutProgress(std::ostream& to) : to_(to) {}

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    std::ostream& to_;
    std::string line_;  // the line begun, not passed on yet
};

}  // namespace flashprog
