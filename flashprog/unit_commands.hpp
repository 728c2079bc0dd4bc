// The commands the programmer carries out on the unit, one per run.
// Each prints its own dialogue to `console`, flushing after every message.
#pragma once

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
};

/// Reads and throws away whatever the unit sends until one read waits a
/// whole reply timeout in vain. Returns the number of bytes thrown away.
std::size_t drain(Link& link);

/// Erases the flash: sends the erase command and waits for its answer.
CommandOutcome erase_flash(Link& link, std::ostream& console);

/// Downloads `image` into the flash, one acknowledged byte per address.
CommandOutcome download_image(Link& link, std::ostream& console, std::span<const std::uint8_t> image);

/// Reads the flash back and compares it with `image`, stopping at the
/// first difference.
CommandOutcome verify_flash(Link& link, std::ostream& console, std::span<const std::uint8_t> image);

/// Reads the flash back into `file`, which replaces any earlier file once
/// the read-back ends (holding the bytes read so far when the unit fell
/// silent). Nothing is created when the unit does not answer at all, and
/// an earlier file is kept when the new one cannot be written.
CommandOutcome save_flash(Link& link, std::ostream& console, const std::filesystem::path& file);

}  // namespace flashprog
