// flashprog: erases, downloads, verifies or saves the unit's flash over a
// serial port, one command per run, with "dic.uns" from the current directory.
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "interrupts.hpp"
#include "low_latency.hpp"
#include "program_arguments.hpp"
#include "programmer.hpp"
#include "serial_devices.hpp"
#include "serial_port.hpp"

namespace {

constexpr std::string_view kUsage =
    "usage: flashprog\n"
    "       flashprog --help | --version\n"
    "\n"
    "Loads the dictionary image dic.uns from the current folder, then, chosen\n"
    "in a key menu, carries out one command on the unit over a serial port\n"
    "(COM1 or COM2, 38400 baud, 8N1): erase its flash, download dic.uns into\n"
    "it, verify it against dic.uns, or save it into dic.sav. Only a complete,\n"
    "clean read-back replaces dic.sav; otherwise the bytes go to dic.sav.part\n"
    "(or to dic.sav when there was none and the answers were in step).\n"
    "It takes no other arguments.\n"
    "\n"
    "Environment:\n"
    "  FLASHPROG_COM1  the device behind COM1 (default " FLASHPROG_COM1_DEVICE
    ")\n"
    "  FLASHPROG_COM2  the device behind COM2 (default " FLASHPROG_COM2_DEVICE
    ")\n"
    "\n"
    "Exit status:\n"
    "  0      done, or left with 7, or the key was no command\n"
    "  1      dic.uns missing or unreadable, or the port could not be opened\n"
    "  2      the unit did not respond\n"
    "  3      verify found a mismatch\n"
    "  4      dic.sav could not be written\n"
    "  5      the unit's answers were out of step (noise on the line)\n"
    "  64     wrong arguments\n"
    "  128+N  interrupted by signal N (Ctrl+C gives 130)\n";

/// The device of a port, as FLASHPROG_COM1 or FLASHPROG_COM2 names it or else as built.
std::string device_of(int port_index) {
    const char* configured = std::getenv(flashprog::port_variable(port_index).c_str());
    return flashprog::serial_device(port_index,
                                    configured ? std::optional<std::string_view>(configured) : std::nullopt);
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto early =
            dicttools::early_exit_for(std::vector<std::string>(argv + 1, argv + argc), "flashprog", kUsage)) {
        return dicttools::finish_early(*early, std::cout, std::cerr);
    }
    const dicttools::ProcessInterrupts interrupts;
    const auto keys = flashprog::open_console_keys(interrupts);
    const auto open_port = [&interrupts](int port_index) {
        return flashprog::open_serial_port(device_of(port_index), interrupts);
    };
    flashprog::Platform platform;
    platform.other_devices = [](int port_index) {
        return flashprog::other_devices_advice(flashprog::list_serial_devices(), port_index,
                                               flashprog::platform_port_naming());
    };
    platform.latency_advice = [](int port_index) { return flashprog::latency_advice(device_of(port_index)); };
    const flashprog::ExitStatus status =
        flashprog::run_programmer({std::cout, std::cerr}, *keys, open_port, ".", interrupts, platform);
    return status == flashprog::ExitStatus::interrupted ? dicttools::exit_status_for_signal(interrupts.signal())
                                                        : static_cast<int>(status);
}
