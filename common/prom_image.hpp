// The PROM image: the dictionary image with its addresses permuted the way
// the unit's address lines are wired to the PROM.
#pragma once

#include <cstdint>
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

/// The dictionary image held in a kImageSize-byte PROM image: the inverse
/// of make_prom_image().
std::vector<std::uint8_t> make_linear_image(std::span<const std::uint8_t> prom);

}  // namespace dicttools
