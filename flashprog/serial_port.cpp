#include "serial_port.hpp"

#include <filesystem>
#include <system_error>

#include "port_names.hpp"
#include "serial_devices.hpp"

namespace flashprog {

std::string serial_device(int port_index, std::optional<std::string_view> configured) {
    return resolve_port_name(configured, port_index == 0 ? FLASHPROG_COM1_DEVICE : FLASHPROG_COM2_DEVICE,
                             platform_port_naming());
}

std::unique_ptr<Link> open_named_port(const std::string& device, const dicttools::StopRequest& stop) {
    std::error_code unknown;
    if (const auto foreign =
            foreign_port_name(device, platform_port_naming(), std::filesystem::exists(device, unknown))) {
        throw LinkError(*foreign);
    }
    return open_serial_port(device, stop);
}

}  // namespace flashprog
