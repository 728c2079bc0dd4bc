// POSIX serial port: termios for the line, poll against a monotonic
// deadline for the timed read.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "console_text.hpp"
#include "low_latency.hpp"
#include "serial_port.hpp"

namespace flashprog {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& device, const std::string& reason) {
    throw LinkError("cannot open " + dicttools::printable_name(device) + ": " + reason);
}

[[noreturn]] void fail_with_errno(const std::string& device) {
    const int error = errno;
    std::string reason = std::strerror(error);
    if (error == EACCES || error == EPERM) {
        reason += " (the user must be allowed to use serial ports, for instance as a member of the dialout group)";
    } else if (error == EWOULDBLOCK || error == EBUSY) {
        reason = "the port is in use by another program";
    }
    fail(device, reason);
}

/// 38400 baud, 8 data bits, no parity, 1 stop bit; every byte passes
/// unchanged both ways (no echo, no line editing, no CR/LF translation, no
/// XON/XOFF: the image holds 0x11 and 0x13 too) and no RTS/CTS; reads
/// return what has arrived without waiting (poll does the waiting).
termios line_settings(const termios& original) {
    termios line = original;
    ::cfmakeraw(&line);
    line.c_iflag &= ~static_cast<tcflag_t>(IXOFF | IXANY);
    line.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS);
    line.c_cflag |= CLOCAL | CREAD;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    ::cfsetispeed(&line, B38400);
    ::cfsetospeed(&line, B38400);
    return line;
}

bool has_line_settings(const termios& line) {
    return ::cfgetispeed(&line) == B38400 && ::cfgetospeed(&line) == B38400 && (line.c_cflag & CSIZE) == CS8 &&
           (line.c_cflag & (PARENB | CSTOPB | CRTSCTS)) == 0 && (line.c_cflag & CREAD) != 0 &&
           (line.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP)) == 0 && (line.c_oflag & OPOST) == 0 &&
           (line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0;
}

class PosixSerialLink final : public Link {
public:
    PosixSerialLink(std::string device, const dicttools::StopRequest& stop) : device_(std::move(device)), stop_(stop) {}
    PosixSerialLink(const PosixSerialLink&) = delete;
    PosixSerialLink& operator=(const PosixSerialLink&) = delete;

    ~PosixSerialLink() override {
        if (fd_ < 0) {
            return;
        }
        if (settings_saved_) {
            ::tcsetattr(fd_, TCSANOW, &original_);
        }
        ::ioctl(fd_, TIOCNXCL);  // the exclusive mode outlives this descriptor otherwise
        ::close(fd_);            // also gives up the lock
    }

    void open() {
        fd_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            fail_with_errno(device_);
        }
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            fail_with_errno(device_);
        }
        ::ioctl(fd_, TIOCEXCL);  // best effort: keeps other programs from opening it too
        if (::tcgetattr(fd_, &original_) != 0) {
            fail_with_errno(device_);  // not a terminal device
        }
        settings_saved_ = true;
        const termios line = line_settings(original_);
        termios actual{};
        if (::tcsetattr(fd_, TCSANOW, &line) != 0 || ::tcgetattr(fd_, &actual) != 0) {
            fail_with_errno(device_);
        }
        if (!has_line_settings(actual)) {
            fail(device_, "the port does not take 38400 baud, 8 data bits, no parity, 1 stop bit");
        }
        const int flags = ::fcntl(fd_, F_GETFL);
        if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0) {
            fail_with_errno(device_);
        }
        request_low_latency(fd_);
    }

    void send(std::uint8_t byte) override {
        while (!failed_ && !stop_.requested()) {
            const ssize_t written = ::write(fd_, &byte, 1);
            if (written == 1) {
                awaiting_answer_ = true;
                return;
            }
            if (written < 0 && errno == EINTR) {
                continue;
            }
            failed_ = true;
        }
    }

    /// Waits in slices of at most kStopCheckInterval, looking at the stop
    /// request before each: a signal interrupts poll() at once (EINTR), and
    /// one that came just before poll() began costs one slice at most.
    /// After a stop, the answer to the byte sent last gets one slice more.
    int read(milliseconds timeout) override {
        steady_clock::time_point deadline = steady_clock::now() + timeout;
        const bool awaited = std::exchange(awaiting_answer_, false);
        bool stopping = false;  // waiting out the answer to the byte sent last
        while (!failed_) {
            if (stop_.requested() && !stopping) {
                if (!awaited) {
                    return kInterrupted;
                }
                stopping = true;
                deadline = std::min(deadline, steady_clock::now() + dicttools::kStopCheckInterval);
            }
            const milliseconds left = std::chrono::ceil<milliseconds>(deadline - steady_clock::now());
            const milliseconds slice = std::clamp(left, milliseconds{0}, dicttools::kStopCheckInterval);
            pollfd ready{fd_, POLLIN, 0};
            const int count = ::poll(&ready, 1, static_cast<int>(slice.count()));
            if (count == 0) {
                if (left <= dicttools::kStopCheckInterval) {
                    return stopping ? kInterrupted : kNoResponse;  // the wait ran out
                }
                continue;
            }
            if (count < 0) {
                if (errno == EINTR) {
                    continue;
                }
                break;
            }
            if ((ready.revents & POLLIN) == 0) {
                break;  // hang-up or error without data
            }
            unsigned char byte = 0;
            const ssize_t got = ::read(fd_, &byte, 1);
            if (got == 1) {
                return byte;
            }
            if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            break;  // end of file (hang-up) or an I/O error
        }
        failed_ = true;
        return kNoResponse;
    }

private:
    std::string device_;
    const dicttools::StopRequest& stop_;
    int fd_ = -1;
    termios original_{};
    bool settings_saved_ = false;
    bool failed_ = false;           // once the line has failed, every read is kNoResponse at once
    bool awaiting_answer_ = false;  // a byte was sent and its answer not read yet
};

}  // namespace

std::unique_ptr<Link> open_serial_port(const std::string& device, const dicttools::StopRequest& stop) {
    auto link = std::make_unique<PosixSerialLink>(device, stop);
    link->open();  // a throw here destroys the link, which restores and closes the port
    return link;
}

}  // namespace flashprog
