// Linux: set ASYNC_LOW_LATENCY. A USB serial adapter otherwise holds back
// received bytes for its latency timer (16 ms by default), which turns a
// download of 524288 round trips from minutes into hours.
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "low_latency.hpp"

namespace flashprog {

void request_low_latency(int fd) {
    serial_struct settings{};
    if (::ioctl(fd, TIOCGSERIAL, &settings) == 0) {
        settings.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &settings);  // refused by some drivers: nothing to do then
    }
}

std::string latency_advice(const std::string& device) {
    // A USB serial driver shows its timer beside the tty the device is, or links to.
    std::error_code error;
    const std::filesystem::path tty = std::filesystem::canonical(device, error).filename();
    const std::string timer_file = "/sys/bus/usb-serial/devices/" + tty.string() + "/latency_timer";
    std::ifstream timer(timer_file);
    int milliseconds = 0;
    if (error || !(timer >> milliseconds)) {
        return "flashprog: the driver refused or ignored the request for low latency; a USB adapter's driver may show "
               "its timer in /sys/bus/usb-serial/devices/<tty>/latency_timer (in ms), which root can set to 1\n";
    }
    if (milliseconds <= 1) {
        return "flashprog: " + timer_file + " holds " + std::to_string(milliseconds) +
               " (ms) already: the adapter's timer is not what slows this line\n";
    }
    return "flashprog: the driver refused or ignored the request for low latency: " + timer_file + " holds " +
           std::to_string(milliseconds) +
           " (ms)\nflashprog: to set it to 1 ms until the adapter is unplugged: echo 1 | "
           "sudo tee " +
           timer_file + "\n";
}

}  // namespace flashprog
