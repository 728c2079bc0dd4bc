// Dictionary order and clean-up of the entries before they are packed.
#pragma once

#include <string_view>
#include <vector>

namespace dictbuild {

/// Cuts a stray CR or LF standing in either of the last two positions of an
/// entry of three or more characters (with everything after it), or in the
/// last position of a two-character entry. One-character entries are kept.
void trim_line_ends(std::vector<std::string_view>& entries);

/// Empties every entry that is equal byte for byte to the one after it, so
/// that of a run of identical neighbours only the last stays. Emptied
/// entries keep their place and are never packed.
void empty_duplicates(std::vector<std::string_view>& entries);

/// The whole clean-up in its order: trim line ends, sort into dictionary
/// order (dicttools::dictionary_less), empty exact duplicates.
void sort_and_clean_up(std::vector<std::string_view>& entries);

}  // namespace dictbuild
