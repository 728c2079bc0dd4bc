// Windows: the latency timer of a USB adapter is a setting of its port in
// the Device Manager.
#include <string_view>

#include "low_latency.hpp"

namespace flashprog {

std::string latency_advice(const std::string& device) {
    std::string_view port = device;
    if (port.starts_with(R"(\\.\)")) {
        port.remove_prefix(4);  // the Device Manager names the port COM7, not \\.\COM7
    }
    return "flashprog: to set it to 1 ms: Device Manager, Ports (COM & LPT), " + std::string(port) +
           ", Properties, Port Settings, Advanced, Latency Timer (msec)\n";
}

}  // namespace flashprog
