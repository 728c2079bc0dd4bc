// Asking a serial driver to hand over received bytes at once.
#pragma once

namespace flashprog {

/// Best effort: asks the driver of the open serial port `fd` for
/// low-latency delivery. Drivers that refuse, or platforms without such a
/// setting, are left as they are. (One implementation per platform file.)
void request_low_latency(int fd);

}  // namespace flashprog
