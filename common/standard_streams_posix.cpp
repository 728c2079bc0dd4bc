// POSIX: a closed standard stream gets the null device.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "standard_streams.hpp"

namespace dicttools {

StandardStreams open_closed_standard_streams() {
    StandardStreams streams;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            streams.input_was_closed |= fd == 0;
            if (fd == 1) {
                std::cout.setstate(std::ios::badbit);
            }
            const int opened = ::open("/dev/null", O_RDWR);  // the lowest free descriptor: this one
            if (opened != fd) {
                if (opened >= 0) {
                    ::close(opened);
                    errno = EBADF;
                }
                streams.opened = false;
                return streams;
            }
        }
    }
    return streams;
}

}  // namespace dicttools
