#include "unit_commands.hpp"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "file_io.hpp"
#include "unit_protocol.hpp"

namespace flashprog {

namespace {

constexpr std::string_view kNoResponseMessage = "ERROR - no response from unit. Reset and try again\n";

void say(std::ostream& console, std::string_view text) { console << text << std::flush; }

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

/// Sends `byte` and waits for the answer; says so when there is none.
std::optional<std::uint8_t> exchange(Link& link, std::ostream& console, std::uint8_t byte) {
    link.send(byte);
    const int answer = link.read(kReplyTimeout);
    if (answer == kNoResponse) {
        say(console, kNoResponseMessage);
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(answer);
}

/// Sends the read-back command; the answer is the byte at address 0.
std::optional<std::uint8_t> start_read_back(Link& link, std::ostream& console) {
    say(console, "Sending the Verify command...\n");
    link.send(kReadBackCommand);
    say(console, "Waiting for acknowledge...\n");
    const int answer = link.read(kReplyTimeout);
    if (answer == kNoResponse) {
        say(console, kNoResponseMessage);
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(answer);
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
    say(console, "Sending the Erase command...\n");
    link.send(kEraseCommand);
    say(console, "Waiting for Erase to complete (about 64s)...\n");
    if (link.read(kEraseTimeout) == kNoResponse) {
        say(console, kNoResponseMessage);
        return CommandOutcome::no_response;
    }
    say(console, "Erased OK\n");
    return CommandOutcome::done;
}

CommandOutcome download_image(Link& link, std::ostream& console, std::span<const std::uint8_t> image) {
    say(console, "Sending the Download command...\n");
    link.send(kDownloadCommand);
    say(console, "Waiting for acknowledge...\n");
    if (link.read(kReplyTimeout) == kNoResponse) {
        say(console, kNoResponseMessage);
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
    const std::optional<std::uint8_t> first = start_read_back(link, console);
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
    const std::optional<std::uint8_t> first = start_read_back(link, console);
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
