// The commands the programmer carries out on the unit, one per run.
// Each prints its own dialogue to `console` and its notes on standard error
// to `errors`, flushing after every message. A stop request (a link read
// that returns kInterrupted) ends a command at the next byte boundary with
// one line that says what it means for the flash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <span>

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
    std::size_t bytes = 0;     // read and thrown away
    bool interrupted = false;  // a stop request ended it before the line fell quiet
};

/// Reads and throws away whatever the unit sends until one read waits a
/// whole reply timeout in vain, or the run is asked to stop.
Drained drain(Link& link);

/// Erases the flash: sends the erase command and waits for its answer.
CommandOutcome erase_flash(Link& link, std::ostream& console);

/// Downloads `image` into the flash, one acknowledged byte per address,
/// then waits one reply timeout for bytes the unit should not have sent
/// (out_of_step when any come).
CommandOutcome download_image(Link& link, std::ostream& console, std::ostream& errors,
                              std::span<const std::uint8_t> image);

/// Reads the flash back and compares it with `image`, stopping at the
/// first difference; after the last byte, waits as download_image does.
CommandOutcome verify_flash(Link& link, std::ostream& console, std::ostream& errors,
                            std::span<const std::uint8_t> image);

/// Reads the flash back into `file`. Before anything is sent, the file's
/// temporary is created, and when `file` exists that of `file` + ".part"
/// too; a `file` or ".part" that is a folder or cannot be written is
/// refused (save_failed, nothing sent). Only a complete read-back, with no byte
/// after it that the unit should not have sent, replaces `file`. A
/// read-back cut short (no response, interrupted) goes to `file` when
/// there was none, else to `file` + ".part", the earlier file kept; a
/// shifted one (out_of_step) always to `file` + ".part". Nothing is
/// created when the unit does not answer at all.
CommandOutcome save_flash(Link& link, std::ostream& console, std::ostream& errors, const std::filesystem::path& file);

}  // namespace flashprog
