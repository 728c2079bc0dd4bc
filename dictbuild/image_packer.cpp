#include "image_packer.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

#include "memory.hpp"

namespace dictbuild {

std::string final_address_text(std::size_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%8.8lX", static_cast<unsigned long>(address));
    return text;
}

namespace {

using dicttools::kFirstGroupAddress;
using dicttools::kImageSize;
using dicttools::kMaxWordLength;
using dicttools::kMinWordLength;

/// Copies the part of `word` that falls inside the image when it is put at `address`.
void put_word(std::vector<std::uint8_t>& image, std::size_t address, std::string_view word) {
    if (address >= image.size()) {
        return;
    }
    const std::size_t room = image.size() - address;
    copy_word(reinterpret_cast<char*>(image.data() + address), word.substr(0, std::min(word.size(), room)));
}

}  // namespace

PackedImage pack_image(const EntryTable& entries) {
    PackedImage packed{dicttools::set_up_vector<std::uint8_t>(kImageSize), kFirstGroupAddress};

    std::array<std::size_t, kMaxWordLength + 1> words{};
    for (const Entry entry : entries.entries()) {
        ++words[entry.length];  // no entry is longer than a word
    }

    // Where the next word of each length goes; 0 for the lengths left out.
    std::array<std::size_t, kMaxWordLength + 1> next{};
    std::size_t& address = packed.final_address;
    for (std::size_t length = kMinWordLength; length <= kMaxWordLength && address <= kImageSize; ++length) {
        if (words[length] > 0) {
            dicttools::write_slot(packed.bytes, length, address);  // address <= kImageSize here
            next[length] = address;
            address += words[length] * length + 1;  // the words and the terminator: the image is zero already
        }
    }

    for (const Entry entry : entries.entries()) {
        std::size_t& place = next[entry.length];
        if (place != 0) {
            put_word(packed.bytes, place, entries.text(entry));
            place += entry.length;
        }
    }
    return packed;
}

}  // namespace dictbuild
