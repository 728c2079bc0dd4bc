// Which device stands behind COM1 and COM2, and what to tell a user whose
// port cannot be opened.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace flashprog {

/// How the platform names a serial device.
enum class PortNaming {
    posix,    // a path, such as /dev/ttyUSB0
    windows,  // COM7 or \\.\COM7, both meaning \\.\COM7
};

/// The environment variable that names the device of port index 0 or 1:
/// "FLASHPROG_COM1" or "FLASHPROG_COM2".
std::string port_variable(int port_index);

/// The device to open for a port: `configured` (the port's environment
/// variable) when it is set and not empty, else `build_default`. Under the
/// Windows rule a bare COMn, in any case, becomes \\.\COMn, which also
/// reaches COM10 and above; every other name is kept as given.
std::string resolve_port_name(std::optional<std::string_view> configured, std::string_view build_default,
                              PortNaming naming);

/// The port index a port named on the command line stands for: 0 for
/// "COM1" and 1 for "COM2", in any case, whose devices are those of the
/// menu's ports; none for any other name, which is a device of its own
/// (see resolve_port_name).
std::optional<int> menu_port_index(std::string_view name);

/// A serial device found on this machine.
struct SerialDevice {
    std::string name;    // as the user would give it: /dev/ttyUSB0, COM3
    std::string detail;  // what a link points to, or the driver's name for it; may be empty
};

/// The lines printed after the reason a port could not be opened: the
/// serial devices this machine has (or that none was found) and how to
/// name one for the port, each line starting "flashprog: ". With a
/// `command` (given on the command line: its words as shell_word() gives
/// them) the device is named with -p; without one, for the menu's port
/// `port_index`, in its variable.
/// `word` as a shell that `naming` goes with takes it back: as it is when
/// it holds only letters, digits and marks no shell reads, else quoted
/// (with bytes that cannot be shown escaped as dicttools::printable_name()
/// does).
std::string shell_word(std::string_view word, PortNaming naming);

std::string other_devices_advice(const std::vector<SerialDevice>& devices, int port_index, PortNaming naming,
                                 std::string_view command = {});

}  // namespace flashprog
