// Reading a dictionary image back: its groups, its words and what is wrong
// with its layout (the layout is described in image_layout.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "console_text.hpp"

namespace dictinfo {

/// The group that a non-zero index slot points at.
struct Group {
    std::size_t length = 0;
    std::size_t address = 0;
    std::size_t words = 0;  // whole words read
    std::size_t bytes = 0;  // bytes it takes, with its terminator, as far as they are there
    bool cut = false;       // it runs into the end of the image, or of a short file
};

/// A problem or a note, at the address of the byte it is about.
struct Finding {
    std::size_t address;
    std::string what;
};

struct ImageReport {
    std::vector<Group> groups;            // in order of length
    std::vector<std::string_view> words;  // every whole word in image order, viewing the image
    /// The addresses of the words left out of `words`: they hold a 0x00
    /// where no terminator belongs, and reading goes on after them.
    std::vector<std::size_t> left_out;
    /// What dictbuild cannot have made, or cannot make again from the words.
    std::vector<Finding> problems;
    /// What dictbuild did make, yet would not make again from the words: a
    /// group cut at the end of the image, another order of words that
    /// compare equal ignoring case.
    std::vector<Finding> notes;
    std::size_t end = 0;  // the address after the last group, as far as it is there
    /// The final address dictbuild printed when it built the image: `end`
    /// when the last group is whole; when it is cut, the least it can have
    /// been (beyond the image, or beyond the end of a short file).
    std::size_t final_address = 0;
    std::size_t present = 0;  // how many bytes of the image the file held

    bool short_file() const;
    bool sound() const { return problems.empty(); }
    bool cut() const;
    /// Whether dictbuild, given the words one per line, builds this image again.
    bool rebuildable() const { return sound() && notes.empty() && !short_file(); }
};

/// Reads the index and the groups of a dictionary image and checks its
/// layout: slots ascending and back to back, each group made of words of its
/// length and closed by a terminator, zeros after the last group, words in
/// dictbuild's order, and every word one that dictbuild reads back as it is
/// (no 0x00, 0x1A or LF, no CR at its end or before its last character, no
/// word twice in its group, anywhere in it). A last group that runs into the end of the image (as an
/// oversized word list leaves it) is cut, not corrupt. `image` is
/// kImageSize bytes of which the first `present` came from the file; the
/// rest are not looked at.
ImageReport check_image(std::span<const std::uint8_t> image, std::size_t present);

/// A whole image read in the order that suits it.
struct ImageReading {
    bool prom = false;                  // it reads better in PROM order (address-scrambled)
    bool some_index_plausible = false;  // plausible_index() in linear order, or in PROM order
    std::vector<std::uint8_t> linear;   // the image in linear order
    ImageReport report;                 // check_image() of `linear`, the whole of it present; its words view `linear`
};

/// Reads a whole image (kImageSize bytes) linearly and in PROM order and
/// keeps whichever reading gives a sound layout, the linear one when both
/// do (an empty image reads the same either way). When neither does, the
/// one whose index dictbuild could have written: the wrong reading of a
/// damaged image can have fewer problems only because its index points at
/// next to nothing. Then the fewer problems, and on a tie the linear reading.
ImageReading read_either_way(std::span<const std::uint8_t> image);

/// Whether the index of `image` looks like one dictbuild writes, whatever
/// the groups hold: bytes 0 to 7 and byte 3 of every slot zero, at least
/// one group, the first at 0x78, and the others at ascending addresses
/// inside the image. Tells the right reading of an image from the wrong one
/// when neither is sound.
bool plausible_index(std::span<const std::uint8_t> image);

/// How many bytes from the start of the linear image a PROM image cut
/// short after `present` bytes holds whole: the ones beyond are scattered
/// over the PROM, some in the file and some not, and not checked.
std::size_t linear_bytes_present(std::size_t present);

/// Whether `bytes`, the start of a file, look like a text word list rather
/// than an image: more line ends than 0x00 bytes. An image has zeros from
/// its first byte on, in every slot and after every group, and line ends
/// only by chance; a word list may hold a stray 0x00 or two.
bool looks_like_text(std::string_view bytes);

/// `value` as "0x" and at least `digits` upper-case hexadecimal digits.
std::string hex(std::size_t value, int digits = 5);

/// Words and file names in messages are shown as the programs' messages
/// show them: control and other unprintable bytes escaped.
using dicttools::printable;

/// "1 byte", "2 bytes": `count` and the noun that goes with it.
std::string counted(std::size_t count, std::string_view one, std::string_view many);

}  // namespace dictinfo
