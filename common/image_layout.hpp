// The dictionary image: the 512 KiB memory the unit reads its words from.
//
//   0x00..0x07   zero (the index slots lengths 0 and 1 would have)
//   4*L          index slot for words of exactly L characters (L = 2..29):
//                bytes 0..2 = the group's start address, 24-bit big-endian;
//                byte 3 = 0.  All four bytes 0 when there is no such word.
//   0x78..       the length groups in ascending L, back to back: each word
//                of the group as exactly L bytes, then one 0x00 terminator.
//   ..0x7FFFF    zero after the last group.
//
// A group address is never 0, so a zero slot always means "no words".
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace dicttools {

inline constexpr std::size_t kImageSize = 0x80000;  // 524288 bytes
inline constexpr std::size_t kMinWordLength = 2;
inline constexpr std::size_t kMaxWordLength = 29;
inline constexpr std::size_t kSlotSize = 4;
inline constexpr std::size_t kFirstGroupAddress = kSlotSize * (kMaxWordLength + 1);  // 0x78

/// Offset of the index slot for words of `length` characters.
constexpr std::size_t slot_offset(std::size_t length) { return kSlotSize * length; }

/// The group address in the slot for `length` (0: no words of that length).
/// `image` must reach past the index.
inline std::size_t read_slot(std::span<const std::uint8_t> image, std::size_t length) {
    const std::size_t slot = slot_offset(length);
    return std::size_t{image[slot]} << 16 | std::size_t{image[slot + 1]} << 8 | image[slot + 2];
}

/// Puts `group_address` (below 2^24) into the slot for `length`; byte 3 of
/// the slot is left as it is.
inline void write_slot(std::span<std::uint8_t> image, std::size_t length, std::size_t group_address) {
    const std::size_t slot = slot_offset(length);
    image[slot + 0] = static_cast<std::uint8_t>(group_address >> 16);
    image[slot + 1] = static_cast<std::uint8_t>(group_address >> 8);
    image[slot + 2] = static_cast<std::uint8_t>(group_address);
}

}  // namespace dicttools
