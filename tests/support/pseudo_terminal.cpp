#include "support/pseudo_terminal.hpp"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace testing_support {

PseudoTerminal::PseudoTerminal(Mode mode) {
    near_fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (near_fd_ < 0 || ::grantpt(near_fd_) != 0 || ::unlockpt(near_fd_) != 0) {
        throw std::runtime_error("cannot open a pseudo-terminal");
    }
    far_path_ = ::ptsname(near_fd_);
    if (mode == Mode::cooked) {
        return;
    }
    const int far = ::open(far_path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (far < 0 || ::tcgetattr(far, &raw) != 0) {
        throw std::runtime_error("cannot set up " + far_path_);
    }
    ::cfmakeraw(&raw);
    ::tcsetattr(far, TCSANOW, &raw);
    ::close(far);
}

bool PseudoTerminal::far_side_is_canonical() const {
    termios settings{};  // the near side reports the settings of the far side
    return ::tcgetattr(near_fd_, &settings) == 0 && (settings.c_lflag & ICANON) != 0;
}

PseudoTerminal::~PseudoTerminal() { hang_up(); }

void PseudoTerminal::write(std::uint8_t byte) const {
    if (::write(near_fd_, &byte, 1) != 1) {
        throw std::runtime_error("cannot write to " + far_path_);
    }
}

std::optional<std::uint8_t> PseudoTerminal::read(std::chrono::milliseconds timeout) const {
    pollfd ready{near_fd_, POLLIN, 0};
    std::uint8_t byte = 0;
    if (::poll(&ready, 1, static_cast<int>(timeout.count())) == 1 && (ready.revents & POLLIN) != 0 &&
        ::read(near_fd_, &byte, 1) == 1) {
        return byte;
    }
    return std::nullopt;
}

void PseudoTerminal::hang_up() {
    if (near_fd_ >= 0) {
        ::close(near_fd_);
        near_fd_ = -1;
    }
}

Watcher::Watcher(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}

Watcher::~Watcher() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

}  // namespace testing_support
