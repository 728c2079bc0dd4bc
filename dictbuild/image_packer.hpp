// Packs sorted entries into the dictionary image (layout in image_layout.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image_layout.hpp"
#include "word_list.hpp"

namespace dictbuild {

/// A final address as dictbuild prints it: eight upper-case hexadecimal
/// digits, zero-padded ("00009FFF").
std::string final_address_text(std::size_t address);

struct PackedImage {
    /// Exactly dicttools::kImageSize bytes.
    std::vector<std::uint8_t> bytes;
    /// The address after the last group's terminator. It goes beyond
    /// kImageSize when the words do not fit; what lies past the image's
    /// end is counted here but not stored.
    std::size_t final_address = dicttools::kFirstGroupAddress;

    bool fits() const { return final_address <= dicttools::kImageSize; }
};

/// Packs the entries of each length from kMinWordLength to kMaxWordLength,
/// in table order, into their length group and records each group's
/// address in the index. Shorter entries (emptied ones included) are left
/// out; longer ones cannot occur after reading. Packing stops after the
/// first group that ends beyond the image; the lengths after it keep zero
/// slots, and the group that crosses the end is cut there. One pass counts
/// the groups, one more puts every word in its place.
PackedImage pack_image(const EntryTable& entries);

}  // namespace dictbuild
