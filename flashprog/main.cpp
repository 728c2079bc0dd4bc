// flashprog: erases, downloads, verifies or saves the unit's flash over a
// serial port, one command per run, with "dic.uns" from the current directory.
#include <iostream>

#include "interrupts.hpp"
#include "programmer.hpp"
#include "serial_port.hpp"

int main() {
    const dicttools::ProcessInterrupts interrupts;
    const auto keys = flashprog::open_console_keys(interrupts);
    const auto open_port = [&interrupts](int port_index) {
        return flashprog::open_serial_port(flashprog::serial_device(port_index), interrupts);
    };
    const flashprog::ExitStatus status =
        flashprog::run_programmer({std::cout, std::cerr}, *keys, open_port, ".", interrupts);
    return status == flashprog::ExitStatus::interrupted ? dicttools::exit_status_for_signal(interrupts.signal())
                                                        : static_cast<int>(status);
}
