// Dictionary order and clean-up of the entries before they are packed.
#pragma once

#include "word_list.hpp"

namespace dictbuild {

/// Cuts a stray CR or LF standing in either of the last two positions of an
/// entry of three or more characters (with everything after it), or in the
/// last position of a two-character entry. One-character entries are kept.
void trim_line_ends(EntryTable& table);

/// Sorts the entries into dictionary order (dicttools::dictionary_less).
/// A string sort on the case-folded bytes: each byte of an entry is looked
/// at a few times at most, however long the starts that entries share.
void sort_entries(EntryTable& table);

/// Empties every entry that is equal byte for byte to the one after it, so
/// that of a run of identical neighbours only the last stays. Emptied
/// entries keep their place and are never packed.
void empty_duplicates(EntryTable& table);

/// The whole clean-up in its order: trim line ends, sort into dictionary
/// order, empty exact duplicates.
void sort_and_clean_up(EntryTable& table);

}  // namespace dictbuild
