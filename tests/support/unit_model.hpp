// A model of the unit's side of the byte protocol, for the fake unit of the
// in-process tests and for the emulated unit on a pseudo-terminal.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace testing_support {

class UnitModel {
public:
    struct Answer {
        std::uint8_t byte;
        /// How long the unit takes before it answers.
        std::chrono::milliseconds delay;
    };

    /// A unit whose flash holds `flash` (erased, all 0xFF, by default).
    explicit UnitModel(std::vector<std::uint8_t> flash);
    UnitModel();

    /// The unit's answer to one byte from the host: erase, start a download
    /// (then every byte is data for the next address), start a read-back
    /// (then each 0x01 asks for the next address). It carries out one
    /// command per power-up: once that has ended (after its last address,
    /// or at a byte other than 0x01 in a read-back), nothing is answered
    /// until power_up(). A byte that is no command is answered '?'.
    std::optional<Answer> answer(std::uint8_t received);

    /// Powers the unit down and up again: it takes a command again.
    void power_up() { mode_ = Mode::commands; }

    std::vector<std::uint8_t>& flash() { return flash_; }
    const std::vector<std::uint8_t>& flash() const { return flash_; }

    /// A unit that is never powered down: each command ends where the next
    /// begins (for tests of the line itself, not of the unit's rules).
    bool always_on = false;
    /// How long an erase takes.
    std::chrono::milliseconds erase_time{64000};
    /// How long the answer to any other byte takes (an adapter's latency, say).
    std::chrono::milliseconds reply_delay{0};

private:
    enum class Mode { commands, download, read_back, spent };

    std::vector<std::uint8_t> flash_;
    Mode mode_ = Mode::commands;
    std::size_t address_ = 0;
};

}  // namespace testing_support
