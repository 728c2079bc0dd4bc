// Dictionary order and clean-up of the entries before they are packed.
#pragma once

#include <string_view>
#include <vector>

namespace dictbuild {

/// Three-way case-insensitive comparison of two entries: bytes compare as
/// unsigned values after mapping ASCII 'A'..'Z' onto 'a'..'z' (no other byte
/// is mapped, whatever the locale); a prefix sorts before the longer string.
/// Returns a negative value, zero or a positive value.
int compare_case_insensitive(std::string_view a, std::string_view b);

/// The dictionary order: case-insensitive, with entries that compare equal
/// that way put in byte order so that the result is the same on every
/// platform and exact duplicates always end up next to each other.
bool dictionary_less(std::string_view a, std::string_view b);

/// Cuts a stray CR or LF standing in either of the last two positions of an
/// entry of three or more characters (with everything after it), or in the
/// last position of a two-character entry. One-character entries are kept.
void trim_line_ends(std::vector<std::string_view>& entries);

/// Empties every entry that is equal byte for byte to the one after it, so
/// that of a run of identical neighbours only the last stays. Emptied
/// entries keep their place and are never packed.
void empty_duplicates(std::vector<std::string_view>& entries);

/// The whole clean-up in its order: trim line ends, sort into dictionary
/// order, empty exact duplicates.
void sort_and_clean_up(std::vector<std::string_view>& entries);

}  // namespace dictbuild
