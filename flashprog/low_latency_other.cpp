// POSIX systems without a low-latency serial setting.
#include "low_latency.hpp"

namespace flashprog {

void request_low_latency(int /*fd*/) {}

std::string latency_advice(const std::string& /*device*/) {
    return "flashprog: set the adapter's latency timer to 1 ms in its driver's settings (for some drivers a "
           "configuration file), or use an adapter that passes each byte on at once\n";
}

}  // namespace flashprog
