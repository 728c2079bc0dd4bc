// What dictbuild makes of a word list, found with dictbuild's own reading,
// clean-up and packing: which lines it keeps and why it drops the others,
// the image it builds, and whether that image fits.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "image_check.hpp"
#include "image_layout.hpp"
#include "image_packer.hpp"
#include "likely_mistakes.hpp"
#include "word_list.hpp"

namespace dictinfo {

/// A line of the list named by its number.
struct ListedLine {
    std::size_t number;
    std::string entry;  // the word it gives, as stored
};

/// What became of the lines, told by the reader line by line.
struct LineCounts {
    static constexpr std::size_t kListed = 10;  // lines named of each kind

    std::size_t lines = 0;
    std::size_t kept = 0;
    std::size_t too_long = 0;
    std::vector<std::size_t> too_long_lines;      // the first kListed
    std::size_t blank = 0;                        // no character before the line end (or a 0x00 first)
    std::size_t one_character = 0;                // as stored, stray line ends trimmed
    std::size_t cut_at_nul = 0;                   // lines a 0x00 cuts short (not counting those over kMaxWordLength)
    std::vector<std::size_t> cut_at_nul_lines;    // the first kListed
    std::size_t duplicates = 0;                   // the same as the line kept just before
    std::size_t not_printable = 0;                // kept lines giving a dictbuild::unprintable_word()
    std::vector<ListedLine> not_printable_lines;  // the first kListed
    std::size_t beyond_table = 0;                 // the line the full table turned away, or 0
};

/// A LineObserver that counts into LineCounts.
class LineTally final : public dictbuild::LineObserver {
public:
    void line(const dictbuild::Line& line) override;
    const LineCounts& counts() const { return counts_; }

private:
    LineCounts counts_;
};

/// The group of one length in the image the list would need, if there were room.
struct NeededGroup {
    std::size_t words = 0;
    std::size_t fitting = 0;  // words that get into the image
};

struct ListReport {
    LineCounts lines;
    bool truncated = false;  // the table filled: dictbuild read no further
    std::size_t duplicates_after_sort = 0;
    std::vector<dictbuild::LikelyMistake> mistakes;
    dictbuild::PackedImage packed;  // the image exactly as dictbuild packs it
    std::vector<Group> groups;      // its index, read back as for any image
    /// What every group of the list takes, from kFirstGroupAddress: beyond
    /// the image also the groups dictbuild never starts once one crosses it.
    std::size_t needed = dicttools::kFirstGroupAddress;
    std::array<NeededGroup, dicttools::kMaxWordLength + 1> by_length{};

    bool fits() const { return packed.fits(); }
};

/// Sorts, cleans up and packs `list` as dictbuild does, and reports on it
/// with `lines`, what the reader told the tally while reading it.
ListReport check_word_list(dictbuild::WordList list, const LineCounts& lines);

}  // namespace dictinfo
