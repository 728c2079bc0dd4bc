// Asking a serial driver to hand over received bytes at once, and telling
// the user how to set it up when it does not.
#pragma once

#include <string>

namespace flashprog {

/// Best effort: asks the driver of the open serial port `fd` for
/// low-latency delivery. Drivers that refuse, or platforms without such a
/// setting, are left as they are. (POSIX; one implementation per platform
/// file.)
void request_low_latency(int fd);

/// Lines, each starting "flashprog: ", on how to set the latency timer of
/// the USB adapter behind `device` to 1 ms on this platform; on Linux with
/// the timer's present value when the driver shows it. (One implementation
/// per platform file.)
std::string latency_advice(const std::string& device);

}  // namespace flashprog
