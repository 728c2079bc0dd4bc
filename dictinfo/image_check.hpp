// Reading a dictionary image back: its groups, its words and what is wrong
// with its layout (the layout is described in image_layout.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dictinfo {

/// The group that a non-zero index slot points at.
struct Group {
    std::size_t length = 0;
    std::size_t address = 0;
    std::size_t words = 0;  // whole words read
    std::size_t bytes = 0;  // bytes it takes, with its terminator, as far as they are there
    bool cut = false;       // it runs into the end of the image, or of a short file
};

struct Problem {
    std::size_t address;
    std::string what;
};

struct ImageReport {
    std::vector<Group> groups;            // in order of length
    std::vector<std::string_view> words;  // every whole word in image order, viewing the image
    std::vector<Problem> problems;        // in the order found
    std::size_t end = 0;                  // the address after the last group
    std::size_t present = 0;              // how many bytes of the image the file held

    bool short_file() const;
    bool sound() const { return problems.empty(); }
};

/// Reads the index and the groups of a dictionary image and checks its
/// layout: slots ascending and back to back, each group made of words of its
/// length without 0x00 and closed by a terminator, zeros after the last
/// group, words in case-insensitive order. A last group that runs into the
/// end of the image (as an oversized word list leaves it) is cut, not
/// corrupt. `image` is kImageSize bytes of which the first `present` came
/// from the file; the rest are not looked at.
ImageReport check_image(std::span<const std::uint8_t> image, std::size_t present);

}  // namespace dictinfo
