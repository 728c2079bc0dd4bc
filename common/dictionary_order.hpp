// The order of words in the dictionary.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace dicttools {

/// Byte `c` with ASCII 'A'..'Z' mapped onto 'a'..'z'; no other byte is
/// mapped, whatever the locale.
constexpr unsigned char fold_case(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

/// Three-way case-insensitive comparison of two words: bytes compare as
/// unsigned values after fold_case(); a prefix sorts before the longer
/// string. Returns a negative value, zero or a positive value. (Inline: the
/// sort calls it for every comparison.)
inline int compare_case_insensitive(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char x = fold_case(a[i]);
        const unsigned char y = fold_case(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

/// The dictionary order: case-insensitive, with words that compare equal
/// that way put in byte order so that the result is the same on every
/// platform and exact duplicates always end up next to each other.
bool dictionary_less(std::string_view a, std::string_view b);

}  // namespace dicttools
