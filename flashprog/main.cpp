// flashprog: erases, downloads, verifies or saves the unit's flash over a
// serial port, one command per run, with "dic.uns" from the current directory.
#include <iostream>

#include "programmer.hpp"
#include "serial_port.hpp"

int main() {
    const auto keys = flashprog::open_console_keys();
    const auto open_port = [](int port_index) {
        return flashprog::open_serial_port(flashprog::serial_device(port_index));
    };
    return static_cast<int>(flashprog::run_programmer({std::cout, std::cerr}, *keys, open_port, "."));
}
