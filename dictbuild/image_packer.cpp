#include "image_packer.hpp"

#include <algorithm>

namespace dictbuild {

namespace {

using dicttools::kFirstGroupAddress;
using dicttools::kImageSize;

/// Copies the part of `word` that falls inside the image when it is put at `address`.
void put_word(std::vector<std::uint8_t>& image, std::size_t address, std::string_view word) {
    if (address >= image.size()) {
        return;
    }
    const std::size_t room = image.size() - address;
    const std::size_t count = std::min(word.size(), room);
    std::copy_n(reinterpret_cast<const std::uint8_t*>(word.data()), count,
                image.begin() + static_cast<std::ptrdiff_t>(address));
}

}  // namespace

PackedImage pack_image(const std::vector<std::string_view>& entries) {
    PackedImage packed{std::vector<std::uint8_t>(kImageSize, 0), kFirstGroupAddress};
    std::size_t& address = packed.final_address;

    for (std::size_t length = dicttools::kMinWordLength; length <= dicttools::kMaxWordLength; ++length) {
        bool group_started = false;
        for (const std::string_view entry : entries) {
            if (entry.size() != length) {
                continue;
            }
            if (!group_started) {
                dicttools::write_slot(packed.bytes, length, address);  // address <= kImageSize here
                group_started = true;
            }
            put_word(packed.bytes, address, entry);
            address += length;
        }
        if (group_started) {
            ++address;  // the terminator: the image is zero already
        }
        if (address > kImageSize) {
            break;
        }
    }
    return packed;
}

}  // namespace dictbuild
