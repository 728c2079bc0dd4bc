// POSIX console keys: one byte from the controlling terminal in raw mode.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "key_source.hpp"

namespace flashprog {

namespace {

/// How long the rest of a multi-byte key (an escape sequence, a UTF-8
/// character) may take to follow its first byte.
constexpr int kRestOfKeyMs = 30;

constexpr auto kLineModes = static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);  // Ctrl+C is a key too
constexpr auto kInputTranslations = static_cast<tcflag_t>(IXON | ICRNL | INLCR);

/// The line modes cleared while waiting for Enter: not ISIG, so that Ctrl+C
/// stays a signal.
constexpr auto kEnterModes = static_cast<tcflag_t>(kLineModes & ~static_cast<tcflag_t>(ISIG));

/// Puts a terminal into single-key mode (without the line modes `cleared`)
/// for as long as it lives and gives it back its settings on every way out.
class SingleKeyMode {
public:
    SingleKeyMode(int fd, const termios& original, tcflag_t cleared = kLineModes)
        : fd_(fd), cleared_(cleared), original_(original), keys_(original) {
        keys_.c_lflag &= ~cleared_;
        keys_.c_iflag &= ~kInputTranslations;
        keys_.c_cc[VMIN] = 1;
        keys_.c_cc[VTIME] = 0;
        ::tcsetattr(fd_, TCSANOW, &keys_);
    }
    SingleKeyMode(const SingleKeyMode&) = delete;
    SingleKeyMode& operator=(const SingleKeyMode&) = delete;
    ~SingleKeyMode() { ::tcsetattr(fd_, TCSANOW, &original_); }

    /// Puts single-key mode back when someone else changed the settings:
    /// a shell does, when the program is stopped and then resumed.
    void keep() const {
        termios now{};
        if (::tcgetattr(fd_, &now) == 0 && ((now.c_lflag & cleared_) != 0 || (now.c_iflag & kInputTranslations) != 0 ||
                                            now.c_cc[VMIN] != 1 || now.c_cc[VTIME] != 0)) {
            ::tcsetattr(fd_, TCSANOW, &keys_);
        }
    }

private:
    int fd_;
    tcflag_t cleared_;
    termios original_;
    termios keys_;
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

/// The controlling terminal, open for as long as this lives.
class Terminal {
public:
    Terminal() : fd_(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    ~Terminal() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    /// Negative when there is no console.
    int fd() const { return fd_; }

private:
    int fd_;
};

/// The controlling terminal in single-key mode for as long as this lives.
class KeyConsole {
public:
    KeyConsole() {
        termios original{};
        if (terminal_.fd() >= 0 && ::tcgetattr(terminal_.fd(), &original) == 0) {
            mode_.emplace(terminal_.fd(), original);
        }
    }
    int fd() const { return terminal_.fd(); }
    /// Null when there is no console (or it is no terminal).
    const SingleKeyMode* mode() const { return mode_ ? &*mode_ : nullptr; }

private:
    Terminal terminal_;
    std::optional<SingleKeyMode> mode_;  // after terminal_: left before it closes
};

class TerminalKeys final : public KeySource {
public:
    explicit TerminalKeys(const dicttools::StopRequest& stop) : stop_(stop) {}

    void enter_single_key_mode() override { held_.emplace(); }
    void leave_single_key_mode() override { held_.reset(); }

    std::uint8_t read_key() override {
        if (held_) {
            return read_key_from(*held_);
        }
        const KeyConsole console;
        return read_key_from(console);
    }

    bool no_console() const override { return no_console_; }

    void discard_typed_ahead() override {
        const Terminal terminal;
        if (terminal.fd() >= 0) {
            ::tcflush(terminal.fd(), TCIFLUSH);
        }
    }

    bool console_present() override {
        const Terminal terminal;
        termios settings{};
        return terminal.fd() >= 0 && ::tcgetattr(terminal.fd(), &settings) == 0;
    }

    bool wait_for_enter(std::string_view question) override {
        const Terminal terminal;
        termios original{};
        if (terminal.fd() < 0 || ::tcgetattr(terminal.fd(), &original) != 0) {
            return false;
        }
        const SingleKeyMode mode(terminal.fd(), original, kEnterModes);
        show(terminal.fd(), question);
        const bool entered = wait_for_enter_key(terminal.fd(), mode);
        show(terminal.fd(), "\n");
        return entered;
    }

private:
    /// Writes `text` to the terminal `fd`, as far as it takes it.
    static void show(int fd, std::string_view text) {
        while (!text.empty()) {
            const ssize_t written = ::write(fd, text.data(), text.size());
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return;
            }
            text.remove_prefix(static_cast<std::size_t>(written));
        }
    }

    bool wait_for_enter_key(int fd, const SingleKeyMode& mode) const {
        for (;;) {
            const std::optional<unsigned char> key = wait_for_byte(fd, mode);
            if (!key) {
                return false;
            }
            if (*key == '\r' || *key == '\n') {
                return true;
            }
            if (starts_a_longer_key(*key)) {
                discard_rest_of_key(fd);
            }
        }
    }

    std::uint8_t read_key_from(const KeyConsole& console) {
        no_console_ = console.mode() == nullptr;
        if (no_console_) {
            return kEndOfInput;
        }
        const std::optional<unsigned char> key = wait_for_byte(console.fd(), *console.mode());
        if (!key) {
            no_console_ = !stop_.requested();  // closed, or an error
            return kEndOfInput;
        }
        if (starts_a_longer_key(*key)) {
            discard_rest_of_key(console.fd());
        }
        return *key;
    }

    /// One byte from the terminal; none when it has closed or the run was
    /// asked to stop. Waits in slices so that a signal that came just
    /// before a wait began is seen too, and single-key mode is put back
    /// soon after a stop and resume.
    std::optional<unsigned char> wait_for_byte(int fd, const SingleKeyMode& mode) const {
        const auto slice = static_cast<int>(dicttools::kStopCheckInterval.count());
        while (!stop_.requested()) {
            mode.keep();
            pollfd ready{fd, POLLIN, 0};
            const int count = ::poll(&ready, 1, slice);
            if (count == 0 || (count < 0 && errno == EINTR)) {
                continue;
            }
            unsigned char byte = 0;
            const ssize_t got = count > 0 ? ::read(fd, &byte, 1) : -1;
            if (got == 1) {
                return byte;
            }
            if (got < 0 && errno == EINTR) {
                continue;
            }
            return std::nullopt;  // closed, or an error
        }
        return std::nullopt;
    }

    const dicttools::StopRequest& stop_;
    std::optional<KeyConsole> held_;
    bool no_console_ = false;
};

}  // namespace

std::unique_ptr<KeySource> open_console_keys(const dicttools::StopRequest& stop) {
    return std::make_unique<TerminalKeys>(stop);
}

}  // namespace flashprog
