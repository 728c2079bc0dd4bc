// The serial devices of this machine, as the platform names them. (One
// implementation per platform file.)
#pragma once

#include <vector>

#include "port_names.hpp"

namespace flashprog {

/// How this platform names serial devices.
PortNaming platform_port_naming();

/// The serial devices this machine has now, in a stable order, the most
/// likely adapters first; empty when none is found. Never throws for a
/// device that cannot be looked at: that one is left out.
std::vector<SerialDevice> list_serial_devices();

}  // namespace flashprog
