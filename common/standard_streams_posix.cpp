// POSIX: a closed standard stream gets the null device.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <streambuf>

#include "standard_streams.hpp"

namespace dicttools {

namespace {

/// Where std::cout writes when standard output was closed: it takes
/// nothing, so every write fails (as on a closed descriptor), and a program
/// that wrote nothing has lost nothing.
class ClosedOutput final : public std::streambuf {
protected:
    int_type overflow(int_type /*byte*/) override {
        errno = EBADF;
        return traits_type::eof();
    }
    std::streamsize xsputn(const char* /*bytes*/, std::streamsize /*count*/) override {
        errno = EBADF;
        return 0;
    }
};

}  // namespace

StandardStreams open_closed_standard_streams() {
    StandardStreams streams;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            streams.input_was_closed |= fd == 0;
            if (fd == 1) {
                static ClosedOutput closed;  // as long as std::cout
                std::cout.rdbuf(&closed);
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
