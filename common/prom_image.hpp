// The PROM image: the dictionary image with its addresses permuted the way
// the unit's address lines are wired to the PROM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace dicttools {

/// The PROM address that holds dictionary-image address `address`: a fixed
/// permutation of the 19 address bits. Only bits 0..18 of `address` are
/// looked at; the result is below 0x80000. It maps 0..0x7FFFF one-to-one
/// onto itself.
std::uint32_t scramble(std::uint32_t address);

/// The PROM image of a kImageSize-byte dictionary image: byte scramble(k)
/// of the result is byte k of `image`. Data bits are not changed.
std::vector<std::uint8_t> make_prom_image(std::span<const std::uint8_t> image);

/// The size of the pieces for_each_prom_piece() hands over.
inline constexpr std::size_t kPromPieceSize = 0x10000;

/// Hands the PROM image of `image` (as make_prom_image() makes it) to `take`
/// in kImageSize / kPromPieceSize pieces, in address order, each made in
/// the same buffer in turn: the whole PROM image is never held.
void for_each_prom_piece(std::span<const std::uint8_t> image,
                         const std::function<void(std::span<const std::uint8_t>)>& take);

/// The dictionary image held in a kImageSize-byte PROM image: the inverse
/// of make_prom_image().
std::vector<std::uint8_t> make_linear_image(std::span<const std::uint8_t> prom);

}  // namespace dicttools
