#include "unit_commands.hpp"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "console_text.hpp"
#include "file_replacement.hpp"
#include "unit_protocol.hpp"

namespace flashprog {

namespace {

constexpr std::string_view kNoResponseMessage = "ERROR - no response from unit. Reset and try again\n";

// What an interrupted command leaves in the flash.
constexpr std::string_view kEraseInterrupted = "Interrupted: the erase may be incomplete; erase again.\n";
constexpr std::string_view kDownloadInterrupted =
    "Interrupted: the flash is partly programmed; erase and download again.\n";
constexpr std::string_view kVerifyInterrupted = "Interrupted: the flash is unchanged but not verified.\n";
constexpr std::string_view kSaveInterrupted = "Interrupted: the flash is unchanged; the read-back is incomplete.\n";
// ... once the last byte was answered, in the check after it.
constexpr std::string_view kDownloadInterruptedAfterAll =
    "Interrupted: the flash is fully programmed; every byte was acknowledged.\n";
constexpr std::string_view kSaveInterruptedAfterAll =
    "Interrupted: the flash is unchanged; the read-back is complete.\n";

using dicttools::say;

/// "Downloading 1000 of 524288 bytes", padded, with a carriage return so
/// that the next progress line overwrites it.
std::string progress_line(const char* doing, std::size_t address) {
    char line[80];
    std::snprintf(line, sizeof line, "%s %zu of %zu bytes             \r", doing, address, kFlashSize);
    return line;
}

std::string mismatch_line(std::size_t address, std::uint8_t image_byte, std::uint8_t flash_byte) {
    char line[80];
    std::snprintf(line, sizeof line, "\nMismatch at %zX: file=%X flash =%X\n", address, unsigned{image_byte},
                  unsigned{flash_byte});
    return line;
}

std::string bytes_text(std::size_t count) { return std::to_string(count) + (count == 1 ? " byte" : " bytes"); }

/// "flashprog: the unit sent 1 byte more than it was asked for: its
/// answers were out of step, so ...".
void say_out_of_step(std::ostream& errors, const Drained& unasked, std::string_view consequence) {
    say(errors, "flashprog: the unit sent " + std::string(unasked.more ? "at least " : "") + bytes_text(unasked.bytes) +
                    " more than it was asked for: its answers were out of step, so " + std::string(consequence) + "\n");
}

/// One answer from the unit: a byte, or kNoResponse or kInterrupted.
struct Answer {
    int result;

    bool arrived() const { return result >= 0; }
    bool interrupted() const { return result == kInterrupted; }
    std::uint8_t byte() const { return static_cast<std::uint8_t>(result); }
};

/// Waits for the unit's answer; says so when there is none.
Answer await_answer(Link& link, std::ostream& console, std::chrono::milliseconds timeout) {
    const Answer answer{link.read(timeout)};
    if (answer.result == kNoResponse) {
        say(console, kNoResponseMessage);
    }
    return answer;
}

/// Sends one byte of a transfer and waits for its answer.
Answer exchange(Link& link, std::ostream& console, std::uint8_t byte) {
    link.send(byte);
    return await_answer(link, console, kReplyTimeout);
}

/// The outcome of a command whose answer did not come; an interrupted one
/// says what that means for the flash.
CommandOutcome without_answer(std::ostream& console, Answer missing, std::string_view interrupted_line) {
    if (missing.interrupted()) {
        say(console, interrupted_line);
        return CommandOutcome::interrupted;
    }
    return CommandOutcome::no_response;
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
Answer start(Link& link, std::ostream& console, const CommandStart& how) {
    say(console, how.sending);
    link.send(how.command);
    say(console, how.waiting);
    return await_answer(link, console, how.timeout);
}

/// The flash as read back, and how the read-back ended.
struct ReadBack {
    std::vector<std::uint8_t> bytes;
    CommandOutcome outcome = CommandOutcome::done;  // done, no_response, interrupted or out_of_step
    Drained unasked;                                // the bytes after the last answer
};

/// Reads the rest of the flash after its first byte, then waits for bytes
/// that should not come.
ReadBack read_rest_of_flash(Link& link, std::ostream& console, std::uint8_t first, const Clock& clock) {
    ReadBack read;
    read.bytes.reserve(kFlashSize);
    read.bytes.push_back(first);
    for (std::size_t address = 1; address < kFlashSize; ++address) {
        if (address % kProgressStep == 0) {
            say(console, progress_line("Saving", address));
        }
        const Answer answer = exchange(link, console, kNextAddress);
        if (!answer.arrived()) {
            read.outcome = answer.interrupted() ? CommandOutcome::interrupted : CommandOutcome::no_response;
            return read;
        }
        read.bytes.push_back(answer.byte());
    }
    const Drained unasked = check_after_transfer(link, clock);
    read.unasked = unasked;
    if (unasked.interrupted) {
        read.outcome = CommandOutcome::interrupted;
    } else if (unasked.bytes > 0) {
        read.outcome = CommandOutcome::out_of_step;
    }
    return read;
}

/// Writes `bytes` into `file` and puts it in place, replacing what is
/// there; with `only_new`, only where nothing is there then. Returns whether
/// it was put in place.
bool write_file(dicttools::FileReplacement& file, std::span<const std::uint8_t> bytes, std::ostream& errors,
                bool only_new = false) {
    file.write(bytes);
    dicttools::ReplacementSteps steps({},
                                      [&errors](const std::string& left) { say(errors, "flashprog: " + left + "\n"); });
    if (only_new) {
        return file.commit_if_absent(steps);
    }
    file.commit(steps);
    return true;
}

std::filesystem::path part_file(const std::filesystem::path& file) {
    std::filesystem::path part = file;
    part += ".part";
    return part;
}

/// Puts the read-back where it belongs: a complete one replaces the file
/// of `saved`; one cut short goes there only while no file is there (as
/// it is put in place, however late one appeared), and otherwise, like a
/// shifted one, to `part`; so does a complete one that cannot replace the
/// file (before the FileError is thrown on). Messages call the file
/// `name`. Throws FileError.
void keep_read_back(const ReadBack& read, dicttools::FileReplacement& saved, dicttools::FileReplacement& part,
                    const std::filesystem::path& file, const std::string& name, std::ostream& errors) {
    const std::string part_name = name + ".part";
    if (read.outcome == CommandOutcome::done) {
        try {
            write_file(saved, read.bytes, errors);
        } catch (const dicttools::FileError&) {
            // (Something put in its place during the transfer.) The whole
            // read-back, minutes of it, is not lost with it.
            write_file(part, read.bytes, errors);
            say(errors, "flashprog: the whole read-back is kept in " + part_name + "\n");
            throw;
        }
        std::error_code ignored;
        if (std::filesystem::exists(std::filesystem::symlink_status(part_file(file), ignored))) {
            say(errors, "flashprog: " + part_name + " beside " + name +
                            " is from an earlier read-back; it is left as it was\n");
        }
        return;
    }
    if (read.outcome != CommandOutcome::out_of_step && write_file(saved, read.bytes, errors, true)) {
        say(errors,
            "flashprog: the read-back stopped after " + bytes_text(read.bytes.size()) + "; they are in " + name + "\n");
        return;
    }
    write_file(part, read.bytes, errors);
    if (read.outcome == CommandOutcome::out_of_step) {
        say_out_of_step(errors, read.unasked,
                        "the read-back is shifted: it is kept as " + part_name + " and never becomes " + name);
    } else {
        say(errors, "flashprog: the read-back stopped after " + bytes_text(read.bytes.size()) + "; they are in " +
                        part_name + ", and the earlier " + name + " is kept\n");
    }
}

}  // namespace

void reserve_in_file(dicttools::FileReplacement& file, std::uintmax_t bytes) { file.reserve(bytes); }

Drained check_after_transfer(Link& link, const Clock& clock) {
    Drained unasked;
    const std::chrono::steady_clock::time_point deadline = clock() + kReplyTimeout;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock());
        if (left <= std::chrono::milliseconds{0}) {
            return unasked;
        }
        const int result = link.read(left);
        if (result < 0) {
            unasked.interrupted = result == kInterrupted;
            return unasked;
        }
        if (unasked.bytes < kUnaskedCountLimit) {
            ++unasked.bytes;
        } else {
            unasked.more = true;
        }
    }
}

Drained drain(Link& link, const Clock& clock) {
    Drained drained;
    const std::chrono::steady_clock::time_point limit = clock() + kDrainLimit;
    for (;;) {
        const int result = link.read(kReplyTimeout);
        if (result < 0) {
            drained.interrupted = result == kInterrupted;
            return drained;
        }
        ++drained.bytes;
        if (clock() >= limit) {
            drained.endless = true;
            return drained;
        }
    }
}

CommandOutcome erase_flash(Link& link, std::ostream& console) {
    const Answer answer = start(link, console, kErase);
    if (!answer.arrived()) {
        return without_answer(console, answer, kEraseInterrupted);
    }
    say(console, "Erased OK\n");
    return CommandOutcome::done;
}

CommandOutcome download_image(Link& link, std::ostream& console, std::ostream& errors,
                              std::span<const std::uint8_t> image, const Clock& clock) {
    const Answer acknowledge = start(link, console, kDownload);
    if (!acknowledge.arrived()) {
        return without_answer(console, acknowledge, kDownloadInterrupted);
    }
    for (std::size_t address = 0; address < image.size(); ++address) {
        const Answer answer = exchange(link, console, image[address]);
        if (answer.interrupted()) {
            return without_answer(console, answer, kDownloadInterrupted);
        }
        if (!answer.arrived()) {
            say(console, "\nFinished programming.\n");
            return CommandOutcome::no_response;
        }
        if (address % kProgressStep == 0) {
            say(console, progress_line("Downloading", address));
        }
    }
    const Drained unasked = check_after_transfer(link, clock);
    if (unasked.interrupted) {
        return without_answer(console, Answer{kInterrupted}, kDownloadInterruptedAfterAll);
    }
    say(console, "\nFinished programming.\n");
    if (unasked.bytes > 0) {
        say_out_of_step(errors, unasked, "some bytes may be programmed at the wrong address; verify the flash");
        return CommandOutcome::out_of_step;
    }
    return CommandOutcome::done;
}

CommandOutcome verify_flash(Link& link, std::ostream& console, std::ostream& errors,
                            std::span<const std::uint8_t> image, const Clock& clock) {
    const Answer first = start(link, console, kReadBack);
    if (!first.arrived()) {
        return without_answer(console, first, kVerifyInterrupted);
    }
    if (first.byte() != image[0]) {
        say(console, mismatch_line(0, image[0], first.byte()));
        return CommandOutcome::mismatch;
    }
    for (std::size_t address = 1; address < image.size(); ++address) {
        const Answer flash_byte = exchange(link, console, kNextAddress);
        if (!flash_byte.arrived()) {
            return without_answer(console, flash_byte, kVerifyInterrupted);
        }
        if (address % kProgressStep == 0) {
            say(console, progress_line("Verifying", address));
        }
        if (flash_byte.byte() != image[address]) {
            say(console, mismatch_line(address, image[address], flash_byte.byte()));
            return CommandOutcome::mismatch;
        }
    }
    const Drained unasked = check_after_transfer(link, clock);
    if (unasked.interrupted) {
        return without_answer(console, Answer{kInterrupted}, kVerifyInterrupted);
    }
    if (unasked.bytes > 0) {
        say(console, "\n");
        say_out_of_step(errors, unasked, "the comparison proves nothing; verify again");
        return CommandOutcome::out_of_step;
    }
    say(console, "\nFinished, verified OK.\n");
    return CommandOutcome::done;
}

CommandOutcome save_flash(Link& link, std::ostream& console, std::ostream& errors, const std::filesystem::path& file,
                          const Clock& clock, const SpaceReservation& reserve, std::string name) {
    if (name.empty()) {
        name = file.filename().string();
    }
    try {
        // Every check comes before the unit is asked for anything: both
        // files a read-back may go to are prepared first, the names of their
        // temporaries tried. Whether there is a file to keep is decided only
        // as the read-back is put in place.
        std::error_code ignored;
        if (std::filesystem::is_directory(file, ignored)) {
            throw dicttools::FileError("Could not write " + name + ": " + std::strerror(EISDIR));
        }
        // The space of the whole flash is reserved for each, so that a disk
        // too small is found now and not after minutes of transfer.
        dicttools::FileReplacement saved(file, name);
        if (const std::error_code refused = dicttools::check_writable(file)) {
            throw dicttools::FileError("Could not write " + name + ": " + refused.message());
        }
        reserve(saved, kFlashSize);
        // ".part" is this program's own scratch name: a link there is
        // replaced, never written through.
        dicttools::FileReplacement part(part_file(file), name + ".part", dicttools::LinkAtTarget::replace);
        reserve(part, kFlashSize);

        const Answer first = start(link, console, kReadBack);
        if (!first.arrived()) {
            return without_answer(console, first, kSaveInterrupted);  // the temporary goes, no file is made
        }
        const ReadBack read = read_rest_of_flash(link, console, first.byte(), clock);
        if (read.outcome == CommandOutcome::interrupted) {
            say(console, read.bytes.size() == kFlashSize ? kSaveInterruptedAfterAll : kSaveInterrupted);
        } else {
            say(console, "\nFinished\n");
        }
        keep_read_back(read, saved, part, file, name, errors);
        return read.outcome;
    } catch (const dicttools::FileError& error) {
        say(console, std::string("ERROR: ") + error.what() + "\n");
        return CommandOutcome::save_failed;
    }
}

}  // namespace flashprog
