#include "image_check.hpp"

#include <algorithm>
#include <cstdio>

#include "dictionary_order.hpp"
#include "image_layout.hpp"

namespace dictinfo {

namespace {

using dicttools::kFirstGroupAddress;
using dicttools::kImageSize;
using dicttools::kMaxWordLength;
using dicttools::kMinWordLength;
using dicttools::read_slot;
using dicttools::slot_offset;

std::string hex(std::size_t value, int digits = 5) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*zX", digits, value);
    return text;
}

std::string shown(std::string_view word) { return "\"" + std::string(word) + "\""; }

std::vector<Group> groups_in_index(std::span<const std::uint8_t> image) {
    std::vector<Group> groups;
    for (std::size_t length = kMinWordLength; length <= kMaxWordLength; ++length) {
        if (const std::size_t address = read_slot(image, length); address != 0) {
            groups.push_back({length, address});
        }
    }
    return groups;
}

class Checker {
public:
    Checker(std::span<const std::uint8_t> image, std::size_t present) : image_(image) { report_.present = present; }

    ImageReport run() {
        check_index();
        report_.groups = groups_in_index(image_);
        std::size_t expected = kFirstGroupAddress;
        bool follows_a_sound_group = true;
        for (std::size_t g = 0; g < report_.groups.size(); ++g) {
            Group& group = report_.groups[g];
            const bool last = g + 1 == report_.groups.size();
            const std::size_t next = last ? kImageSize : report_.groups[g + 1].address;
            if (follows_a_sound_group && group.address != expected) {
                problem(slot_offset(group.length), "the slot of length " + std::to_string(group.length) +
                                                       " points at " + hex(group.address) + ", but " +
                                                       (g == 0 ? "the first group starts at " + hex(expected)
                                                               : "the group before it ends at " + hex(expected)));
            }
            follows_a_sound_group = read_group(group, next, last) && !group.cut;
            expected = group.address + group.bytes;
        }
        report_.end = expected;
        check_tail();
        return std::move(report_);
    }

private:
    void problem(std::size_t address, std::string what) { report_.problems.push_back({address, std::move(what)}); }

    void check_index() {
        for (std::size_t address = 0; address < slot_offset(kMinWordLength); ++address) {
            if (image_[address] != 0) {
                problem(address, "bytes 0x00000 to 0x00007 must be zero");
                break;
            }
        }
        for (std::size_t length = kMinWordLength; length <= kMaxWordLength; ++length) {
            const std::size_t last_byte = slot_offset(length) + 3;
            if (image_[last_byte] != 0) {
                problem(last_byte, "byte 3 of the slot of length " + std::to_string(length) + " is " +
                                       hex(image_[last_byte], 2) + ", not 0");
            }
        }
    }

    /// Reads the words of `group` up to its terminator, or to `next` (where
    /// the next group starts) or the end of what is there. Returns whether
    /// the group is whole and closed as it should be.
    bool read_group(Group& group, std::size_t next, bool last) {
        const std::size_t limit = std::min(report_.present, kImageSize);
        const std::string length = std::to_string(group.length);
        if (group.address > kImageSize || (group.address == kImageSize && !last)) {
            problem(slot_offset(group.length), "the slot of length " + length + " points outside the image");
            return false;
        }
        std::string_view previous;
        for (std::size_t at = group.address;; at += group.length) {
            if (at >= limit || at + group.length > limit) {
                // The group runs into the end of the image (an oversized word
                // list leaves it so) or of a short file: cut, not corrupt.
                group.cut = true;
                group.bytes = limit > group.address ? std::min(at + group.length, limit) - group.address : 0;
                if (!last && limit == kImageSize) {
                    problem(group.address, "the group of length " + length +
                                               " runs past the end of the image, yet longer lengths follow");
                    return false;
                }
                return true;
            }
            if (at >= next || (image_[at] != 0 && at + group.length > next)) {
                problem(at, "the group of length " + length + " has no 0x00 terminator before the next group");
                group.bytes = at - group.address;
                return false;
            }
            if (image_[at] == 0) {
                group.bytes = at + 1 - group.address;
                if (group.words == 0) {
                    problem(at, "the group of length " + length + " holds no word");
                    return false;
                }
                return true;
            }
            const std::string_view word(reinterpret_cast<const char*>(image_.data()) + at, group.length);
            if (const std::size_t zero = word.find('\0'); zero != std::string_view::npos) {
                problem(at + zero, "the word of length " + length + " at " + hex(at) + " holds a 0x00");
                group.bytes = at + zero + 1 - group.address;
                return false;
            }
            if (!previous.empty() && dicttools::compare_case_insensitive(previous, word) > 0) {
                problem(at, shown(previous) + " and " + shown(word) + " are out of order");
            }
            report_.words.push_back(word);
            ++group.words;
            previous = word;
        }
    }

    void check_tail() {
        const std::size_t limit = std::min(report_.present, kImageSize);
        for (std::size_t address = report_.end; address < limit; ++address) {
            if (image_[address] != 0) {
                const auto others = std::count_if(image_.begin() + static_cast<std::ptrdiff_t>(address),
                                                  image_.begin() + static_cast<std::ptrdiff_t>(limit),
                                                  [](std::uint8_t byte) { return byte != 0; });
                problem(address, std::to_string(others) + " non-zero byte(s) after the last group, the first " +
                                     hex(image_[address], 2));
                return;
            }
        }
    }

    std::span<const std::uint8_t> image_;
    ImageReport report_;
};

}  // namespace

bool ImageReport::short_file() const { return present < kImageSize; }

ImageReport check_image(std::span<const std::uint8_t> image, std::size_t present) {
    return Checker(image, present).run();
}

}  // namespace dictinfo
