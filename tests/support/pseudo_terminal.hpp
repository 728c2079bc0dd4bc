// Pseudo-terminal pairs for serial and console tests: the program under
// test opens the far side by its path, the test works the near side.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace testing_support {

class PseudoTerminal {
public:
    enum class Mode {
        raw,     // like a serial line: nothing echoed or translated
        cooked,  // like a console: line editing and echo, as a terminal starts
    };

    /// Opens a new pair with its far side in `mode`.
    explicit PseudoTerminal(Mode mode = Mode::raw);
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;
    ~PseudoTerminal();

    /// The path of the far side, such as /dev/pts/7.
    const std::string& far_path() const { return far_path_; }
    /// The near side's descriptor.
    int near_fd() const { return near_fd_; }

    void write(std::uint8_t byte) const;
    /// One byte from the far side, or nothing when none came within `timeout`.
    std::optional<std::uint8_t> read(std::chrono::milliseconds timeout) const;
    /// Closes the near side: the far side sees a hang-up.
    void hang_up();
    /// Whether the far side is in canonical (line) mode right now.
    bool far_side_is_canonical() const;

private:
    int near_fd_ = -1;
    std::string far_path_;
};

/// A second opener of a line, to look at its settings from outside.
class Watcher {
public:
    explicit Watcher(const std::string& path);
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;
    ~Watcher();
    /// Negative when the line could not be opened.
    int fd() const { return fd_; }

private:
    int fd_;
};

}  // namespace testing_support
