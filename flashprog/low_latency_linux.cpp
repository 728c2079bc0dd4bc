// Linux: set ASYNC_LOW_LATENCY. A USB serial adapter otherwise holds back
// received bytes for its latency timer (16 ms by default), which turns a
// download of 524288 round trips from minutes into hours.
#include <linux/serial.h>
#include <sys/ioctl.h>

#include "low_latency.hpp"

namespace flashprog {

void request_low_latency(int fd) {
    serial_struct settings{};
    if (::ioctl(fd, TIOCGSERIAL, &settings) == 0) {
        settings.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &settings);  // refused by some drivers: nothing to do then
    }
}

}  // namespace flashprog
