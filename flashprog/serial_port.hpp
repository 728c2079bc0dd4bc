// The serial ports the unit can hang on.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "interrupts.hpp"
#include "link.hpp"

namespace flashprog {

/// The device of port index 0 (COM1) or 1 (COM2): `configured`, the value
/// of the port's environment variable (FLASHPROG_COM1 or FLASHPROG_COM2),
/// when it is set and not empty, else the one fixed when the program was
/// built; named as this platform names it (see resolve_port_name).
std::string serial_device(int port_index, std::optional<std::string_view> configured);

/// Opens `device` exclusively at 38400 baud, 8 data bits, no parity, 1 stop
/// bit, fully raw and without flow control. Throws LinkError, naming the
/// device and the reason, when it is missing, refused, held by another
/// program or does not take those settings. Reads end with kInterrupted
/// once `stop` is requested (it must outlive the link). When the link is
/// destroyed the port gets back its earlier settings and is no longer held
/// exclusively. (One implementation per platform file.)
std::unique_ptr<Link> open_serial_port(const std::string& device, const dicttools::StopRequest& stop);

/// Opens a device named on the command line as open_serial_port() does,
/// but first refuses, with LinkError, a name that is no port on this
/// platform (see foreign_port_name()).
std::unique_ptr<Link> open_named_port(const std::string& device, const dicttools::StopRequest& stop);

}  // namespace flashprog
