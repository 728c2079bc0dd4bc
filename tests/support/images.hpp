// A small dictionary image, as dictbuild makes it from the words "ab",
// "cd" and "efgh", for the flashprog tests of the image check.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "image_layout.hpp"

namespace testing_support {

inline std::vector<std::uint8_t> small_image() {
    constexpr std::string_view kGroups("abcd\0efgh\0", 10);  // length 2 at 0x78, length 4 at 0x7D
    std::vector<std::uint8_t> image(dicttools::kImageSize, 0);
    dicttools::write_slot(image, 2, dicttools::kFirstGroupAddress);
    dicttools::write_slot(image, 4, dicttools::kFirstGroupAddress + 5);
    std::copy(kGroups.begin(), kGroups.end(), image.begin() + dicttools::kFirstGroupAddress);
    return image;
}

}  // namespace testing_support
