// flashprog: erases, downloads, verifies or saves the unit's flash over a
// serial port, one command per run, with "dic.uns" from the current directory.
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string_view>

#include "low_latency.hpp"
#include "programmer.hpp"
#include "serial_devices.hpp"
#include "serial_port.hpp"

namespace {

/// The device of a port, as FLASHPROG_COM1 or FLASHPROG_COM2 names it or else as built.
std::string device_of(int port_index) {
    const char* configured = std::getenv(flashprog::port_variable(port_index).c_str());
    return flashprog::serial_device(port_index,
                                    configured ? std::optional<std::string_view>(configured) : std::nullopt);
}

}  // namespace

int main() {
    const auto keys = flashprog::open_console_keys();
    const auto open_port = [](int port_index) { return flashprog::open_serial_port(device_of(port_index)); };
    flashprog::Platform platform;
    platform.other_devices = [](int port_index) {
        return flashprog::other_devices_advice(flashprog::list_serial_devices(), port_index,
                                               flashprog::platform_port_naming());
    };
    platform.latency_advice = [](int port_index) { return flashprog::latency_advice(device_of(port_index)); };
    return static_cast<int>(flashprog::run_programmer({std::cout, std::cerr}, *keys, open_port, ".", platform));
}
