#include "serial_port.hpp"

namespace flashprog {

std::string serial_device(int port_index) { return port_index == 0 ? FLASHPROG_COM1_DEVICE : FLASHPROG_COM2_DEVICE; }

}  // namespace flashprog
