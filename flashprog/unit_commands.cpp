#include "unit_commands.hpp"

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "console_text.hpp"
#include "file_io.hpp"
#include "unit_protocol.hpp"

namespace flashprog {

namespace {

constexpr std::string_view kNoResponseMessage = "ERROR - no response from unit. Reset and try again\n";

using dicttools::say;

/// "Downloading 1000 of 524288 bytes", padded, with a carriage return so
/// that the next progress line overwrites it.
std::string progress_line(const char* doing, std::size_t address) {
    char line[80];
    std::snprintf(line, sizeof line, "%s %zu of %zu bytes             \r", doing, address, kFlashSize);
    return line;
}

std::string mismatch_line(std::size_t address, std::uint8_t image_byte, int flash_byte) {
    char line[80];
    std::snprintf(line, sizeof line, "\nMismatch at %zX: file=%X flash =%X\n", address, unsigned{image_byte},
                  static_cast<unsigned>(flash_byte));
    return line;
}

/// Waits for the unit's answer; says so when there is none.
std::optional<std::uint8_t> await_answer(Link& link, std::ostream& console, std::chrono::milliseconds timeout) {
    const int answer = link.read(timeout);
    if (answer == kNoResponse) {
        say(console, kNoResponseMessage);
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(answer);  // any other result is a byte
}

/// Sends one byte of a transfer and waits for its answer.
std::optional<std::uint8_t> exchange(Link& link, std::ostream& console, std::uint8_t byte) {
    link.send(byte);
    return await_answer(link, console, kReplyTimeout);
}

/// How a command begins: what is printed around sending its byte, and how
/// long its answer may take.
struct CommandStart {
    std::string_view sending;
    std::uint8_t command;
    std::string_view waiting;
    std::chrono::milliseconds timeout;
};

constexpr CommandStart kErase{"Sending the Erase command...\n", kEraseCommand,
                              "Waiting for Erase to complete (about 64s)...\n", kEraseTimeout};
constexpr CommandStart kDownload{"Sending the Download command...\n", kDownloadCommand, "Waiting for acknowledge...\n",
                                 kReplyTimeout};
// Save reads the flash back with the same exchange, and the same words, as Verify.
constexpr CommandStart kReadBack{"Sending the Verify command...\n", kReadBackCommand, "Waiting for acknowledge...\n",
                                 kReplyTimeout};

/// Sends a command byte and waits for its answer.
std::optional<std::uint8_t> start(Link& link, std::ostream& console, const CommandStart& how) {
    say(console, how.sending);
    link.send(how.command);
    say(console, how.waiting);
    return await_answer(link, console, how.timeout);
}

}  // namespace

std::size_t drain(Link& link) {
    std::size_t discarded = 0;
    while (link.read(kReplyTimeout) != kNoResponse) {
        ++discarded;
    }
    return discarded;
}

CommandOutcome erase_flash(Link& link, std::ostream& console) {
    if (!start(link, console, kErase)) {
        return CommandOutcome::no_response;
    }
    say(console, "Erased OK\n");
    return CommandOutcome::done;
}

CommandOutcome download_image(Link& link, std::ostream& console, std::span<const std::uint8_t> image) {
    if (!start(link, console, kDownload)) {
        return CommandOutcome::no_response;
    }
    CommandOutcome outcome = CommandOutcome::done;
    for (std::size_t address = 0; address < image.size(); ++address) {
        if (!exchange(link, console, image[address])) {
            outcome = CommandOutcome::no_response;
            break;
        }
        if (address % kProgressStep == 0) {
            say(console, progress_line("Downloading", address));
        }
    }
    say(console, "\nFinished programming.\n");
    return outcome;
}

CommandOutcome verify_flash(Link& link, std::ostream& console, std::span<const std::uint8_t> image) {
    const std::optional<std::uint8_t> first = start(link, console, kReadBack);
    if (!first) {
        return CommandOutcome::no_response;
    }
    if (*first != image[0]) {
        say(console, mismatch_line(0, image[0], *first));
        return CommandOutcome::mismatch;
    }
    for (std::size_t address = 1; address < image.size(); ++address) {
        const std::optional<std::uint8_t> flash_byte = exchange(link, console, kNextAddress);
        if (!flash_byte) {
            return CommandOutcome::no_response;
        }
        if (address % kProgressStep == 0) {
            say(console, progress_line("Verifying", address));
        }
        if (*flash_byte != image[address]) {
            say(console, mismatch_line(address, image[address], *flash_byte));
            return CommandOutcome::mismatch;
        }
    }
    say(console, "\nFinished, verified OK.\n");
    return CommandOutcome::done;
}

CommandOutcome save_flash(Link& link, std::ostream& console, const std::filesystem::path& file) {
    const std::optional<std::uint8_t> first = start(link, console, kReadBack);
    if (!first) {
        return CommandOutcome::no_response;
    }
    try {
        dicttools::FileReplacement saved(file);
        saved.write({&*first, 1});
        CommandOutcome outcome = CommandOutcome::done;
        for (std::size_t address = 1; address < kFlashSize; ++address) {
            if (address % kProgressStep == 0) {
                say(console, progress_line("Saving", address));
            }
            const std::optional<std::uint8_t> flash_byte = exchange(link, console, kNextAddress);
            if (!flash_byte) {
                outcome = CommandOutcome::no_response;
                break;
            }
            saved.write({&*flash_byte, 1});
        }
        say(console, "\nFinished\n");
        saved.commit();
        return outcome;
    } catch (const dicttools::FileError& error) {
        say(console, std::string("ERROR: ") + error.what() + "\n");
        return CommandOutcome::save_failed;
    }
}

}  // namespace flashprog
