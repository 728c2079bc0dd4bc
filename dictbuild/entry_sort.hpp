// Dictionary order and clean-up of the entries before they are packed.
#pragma once

#include <string_view>

#include "word_list.hpp"

namespace dictbuild {

/// `entry` as it is stored: a stray CR or LF standing in either of the last
/// two positions of an entry of three or more characters goes (with
/// everything after it), or in the last position of a two-character entry,
/// and again until the end is neither. One-character entries are kept.
std::string_view trim_line_ends(std::string_view entry);

/// Trims every entry of `table` as above.
void trim_line_ends(EntryTable& table);

/// Sorts the entries into dictionary order (dicttools::dictionary_less).
/// A string sort on the case-folded bytes, eight at a time: each byte of
/// an entry is looked at a few times at most, however long the starts that
/// entries share. The entries hold no 0x00 (the reader ends them there).
void sort_entries(EntryTable& table);

/// Empties every entry that is equal byte for byte to the one after it, so
/// that of a run of identical neighbours only the last stays. Emptied
/// entries keep their place and are never packed.
void empty_duplicates(EntryTable& table);

/// The whole clean-up in its order: trim line ends, sort into dictionary
/// order, empty exact duplicates.
void sort_and_clean_up(EntryTable& table);

}  // namespace dictbuild
