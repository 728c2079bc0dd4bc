#include "serial_port.hpp"

#include "port_names.hpp"
#include "serial_devices.hpp"

namespace flashprog {

std::string serial_device(int port_index, std::optional<std::string_view> configured) {
    return resolve_port_name(configured, port_index == 0 ? FLASHPROG_COM1_DEVICE : FLASHPROG_COM2_DEVICE,
                             platform_port_naming());
}

}  // namespace flashprog
