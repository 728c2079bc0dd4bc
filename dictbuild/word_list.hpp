// Word list reader: turns the raw bytes of "dic.txt" into entries.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace dictbuild {

/// Capacity of the entry table; input beyond it is not read.
inline constexpr std::size_t kMaxEntries = 200000;

/// The entries of one word list, in file order. Every entry is a view into
/// the source bytes handed to read_word_list(), which must outlive it.
struct WordList {
    std::vector<std::string_view> entries;
    /// True when the table was full and a further line would have been kept.
    bool truncated = false;
};

/// Splits `source` into entries, one per line, applying the text-mode rules
/// of the word list on every platform alike:
///  - a 0x1A (Ctrl-Z) byte ends the file;
///  - CR LF counts as one line end, a CR on its own is an ordinary byte;
///  - the line end itself is not part of the entry; a last line without a
///    line end keeps all its characters;
///  - a line of more than kMaxWordLength characters before its line end
///    cannot be a word and is skipped whole;
///  - an entry ends at its first 0x00 byte;
///  - an entry equal (byte for byte) to the last one kept is dropped;
///  - blank lines become empty entries, which count but are never packed.
/// Nothing else is validated: bytes are kept as they are. At most
/// kMaxEntries entries are kept; reading stops at the first line that would
/// have been kept beyond them, and `truncated` then says so.
WordList read_word_list(std::string_view source);

}  // namespace dictbuild
