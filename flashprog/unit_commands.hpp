// The commands the programmer carries out on the unit, one per run.
// Each prints its own dialogue to `console` and its notes on standard error
// to `errors`, flushing after every message. A stop request (a link read
// that returns kInterrupted) ends a command at the next byte boundary with
// one line that says what it means for the flash.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <span>

#include "file_replacement.hpp"
#include "link.hpp"

namespace flashprog {

enum class CommandOutcome {
    done,
    no_response,  // the unit did not answer within the wait; the exchange stopped there
    mismatch,     // verify found a flash byte that differs from the image
    save_failed,  // the read-back file could not be written
    out_of_step,  // the unit sent bytes it was not asked for: its answers were shifted
    interrupted,  // a stop request ended the exchange
};

struct Drained {
    std::size_t bytes = 0;     // read and thrown away (after a transfer: counted up to kUnaskedCountLimit)
    bool more = false;         // after a transfer: more came than were counted
    bool interrupted = false;  // a stop request ended it before the line fell quiet
    bool endless = false;      // before a command: bytes still came kDrainLimit after it began
};

/// How long the drain before a command goes on while bytes keep coming. A
/// line that floats (no unit on it, or one not powered) sends for ever; a
/// burst of noise from a unit powering up is over well within it.
inline constexpr std::chrono::milliseconds kDrainLimit{2000};

/// Reads and throws away whatever the unit sends until one read waits a
/// whole reply timeout in vain, or the run is asked to stop, or a byte
/// still comes kDrainLimit after the drain began, by `clock` (`endless`).
Drained drain(Link& link, const Clock& clock = std::chrono::steady_clock::now);

/// The bytes after a transfer's last answer counted one by one: more than
/// the line carries in one reply timeout (3840 bytes at 38400 baud).
inline constexpr std::size_t kUnaskedCountLimit = 4000;

/// The check after a transfer: reads and throws away what the unit sends
/// in the one reply timeout after the last answer, by `clock`, and ends
/// then whatever keeps arriving (a floating receive line sends for ever),
/// or sooner on a stop request.
Drained check_after_transfer(Link& link, const Clock& clock);

/// Erases the flash: sends the erase command and waits for its answer.
CommandOutcome erase_flash(Link& link, std::ostream& console);

/// Downloads `image` into the flash, one acknowledged byte per address,
/// then checks for bytes the unit should not have sent
/// (check_after_transfer(); out_of_step when any come). Interrupted after
/// the last acknowledge, it says that the flash is fully programmed.
CommandOutcome download_image(Link& link, std::ostream& console, std::ostream& errors,
                              std::span<const std::uint8_t> image, const Clock& clock = std::chrono::steady_clock::now);

/// Reads the flash back and compares it with `image`, stopping at the
/// first difference; after the last byte, checks as download_image does.
CommandOutcome verify_flash(Link& link, std::ostream& console, std::ostream& errors,
                            std::span<const std::uint8_t> image, const Clock& clock = std::chrono::steady_clock::now);

/// How Save sets aside the space of a file it may write before the unit is
/// asked (a test makes it fail). Throws FileError when the space is not there.
using SpaceReservation = std::function<void(dicttools::FileReplacement& file, std::uintmax_t bytes)>;

/// The real reservation: FileReplacement::reserve().
void reserve_in_file(dicttools::FileReplacement& file, std::uintmax_t bytes);

/// Reads the flash back into `file`. Before anything is sent, the file's
/// temporary is created, and when `file` exists that of `file` + ".part"
/// too, each with the space of the whole flash reserved; a `file` or
/// ".part" that is a folder or cannot be written, or a disk that cannot
/// hold them, is refused (save_failed, nothing sent, nothing left). Only a
/// complete read-back, with no byte after it that the unit should not have
/// sent, replaces `file`. A
/// read-back cut short (no response, interrupted) goes to `file` when
/// there was none, else to `file` + ".part", the earlier file kept; a
/// shifted one (out_of_step) always to `file` + ".part". Nothing is
/// created when the unit does not answer at all. A complete read-back
/// written beside an older `file` + ".part" names that file on `errors`
/// and leaves it. Interrupted after the last byte, it says that the
/// read-back is complete. Messages call the file `name` (by default the
/// last part of its path).
CommandOutcome save_flash(Link& link, std::ostream& console, std::ostream& errors, const std::filesystem::path& file,
                          const Clock& clock = std::chrono::steady_clock::now,
                          const SpaceReservation& reserve = reserve_in_file, std::string name = {});

}  // namespace flashprog
