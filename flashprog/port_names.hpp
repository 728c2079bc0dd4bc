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

/// Why `name`, a port named on the command line, is no port here: under
/// the POSIX rule a bare COMn, n from 3 to 256 in any case, when no file
/// of that name `exists`, is a Windows port name, and the reason (one line,
/// without a line end) says how ports are named here. None for any other
/// name, which is opened as a device as it is.
std::optional<std::string> foreign_port_name(std::string_view name, PortNaming naming, bool exists);

/// The lines printed after the reason a port could not be opened: the
/// serial devices this machine has (or that none was found) and how to
/// name one for the port, each line starting "flashprog: ", every name
/// written as dicttools::printable_name() writes it and the suggested one
/// as dicttools::shell_word() does. With a `command` (given on the command
/// line: its words as dicttools::shell_operand() gives them) the device is
/// named with -p; without one, for the menu's port `port_index`, in its
/// variable.
std::string other_devices_advice(const std::vector<SerialDevice>& devices, int port_index, PortNaming naming,
                                 std::string_view command = {});

}  // namespace flashprog
