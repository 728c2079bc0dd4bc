// POSIX systems without a low-latency serial setting.
#include "low_latency.hpp"

namespace flashprog {

void request_low_latency(int /*fd*/) {}

}  // namespace flashprog
