// POSIX console keys: one byte from the controlling terminal in raw mode.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "key_source.hpp"

namespace flashprog {

namespace {

/// How long the rest of a multi-byte key (an escape sequence, a UTF-8
/// character) may take to follow its first byte.
constexpr int kRestOfKeyMs = 30;

/// Puts a terminal into single-key mode for as long as it lives and gives
/// it back its settings on every way out.
class SingleKeyMode {
public:
    SingleKeyMode(int fd, const termios& original) : fd_(fd), original_(original) {
        termios keys = original;
        keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);  // Ctrl+C is a key too
        keys.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR);
        keys.c_cc[VMIN] = 1;
        keys.c_cc[VTIME] = 0;
        ::tcsetattr(fd_, TCSANOW, &keys);
    }
    SingleKeyMode(const SingleKeyMode&) = delete;
    SingleKeyMode& operator=(const SingleKeyMode&) = delete;
    ~SingleKeyMode() { ::tcsetattr(fd_, TCSANOW, &original_); }

private:
    int fd_;
    termios original_;
};

/// Reads and drops what follows a key's first byte, so that the rest of a
/// cursor key does not spill into the shell after the program ends.
void discard_rest_of_key(int fd) {
    pollfd more{fd, POLLIN, 0};
    unsigned char rest[64];
    while (::poll(&more, 1, kRestOfKeyMs) > 0 && (more.revents & POLLIN) != 0 && ::read(fd, rest, sizeof rest) > 0) {
    }
}

bool starts_a_longer_key(unsigned char byte) { return byte == 0x1B || byte >= 0x80; }

class TerminalKeys final : public KeySource {
public:
    std::uint8_t read_key() override {
        const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            return kEndOfInput;  // no console
        }
        const std::uint8_t key = read_key_from(fd);
        ::close(fd);
        return key;
    }

private:
    static std::uint8_t read_key_from(int fd) {
        termios original{};
        if (::tcgetattr(fd, &original) != 0) {
            return kEndOfInput;
        }
        const SingleKeyMode mode(fd, original);
        unsigned char key = 0;
        ssize_t got = 0;
        while ((got = ::read(fd, &key, 1)) < 0 && errno == EINTR) {
        }
        if (got != 1) {
            return kEndOfInput;
        }
        if (starts_a_longer_key(key)) {
            discard_rest_of_key(fd);
        }
        return key;
    }
};

}  // namespace

std::unique_ptr<KeySource> open_console_keys() { return std::make_unique<TerminalKeys>(); }

}  // namespace flashprog
