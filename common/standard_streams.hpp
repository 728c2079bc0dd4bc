// The standard streams at a program's start.
#pragma once

namespace dicttools {

/// What open_closed_standard_streams() found and did.
struct StandardStreams {
    bool opened = true;             // false, with errno set, when a closed one could not be opened
    bool input_was_closed = false;  // standard input was closed: it now reads the null device
};

/// Opens the null device on whichever of standard input, output and error
/// is closed (POSIX: descriptors 0, 1 and 2; nothing to do on Windows),
/// for a program to call before it opens anything: a file or port opened
/// later would otherwise take the closed one's place and receive what the
/// program writes to standard output or error. When standard output was
/// closed, every write to std::cout fails (errno EBADF): what is written
/// there reaches no one, and a program that checks its output (help, a
/// listing) says so instead of ending as if the null device had read it.
StandardStreams open_closed_standard_streams();

}  // namespace dicttools
