#include "prom_image.hpp"

#include <array>
#include <cassert>
#include <cstddef>

#include "image_layout.hpp"

namespace dicttools {

namespace {

constexpr unsigned kAddressBits = 19;

/// kPromBit[i] is the PROM address bit that image address bit i drives.
constexpr std::array<unsigned, kAddressBits> kPromBit = {
    8, 13, 14, 12, 17, 15, 16, 18, 2, 10, 1, 0, 3, 11, 4, 9, 7, 6, 5,
};

constexpr std::uint32_t permute_bits(std::uint32_t address) {
    std::uint32_t prom_address = 0;
    for (unsigned bit = 0; bit < kAddressBits; ++bit) {
        prom_address |= ((address >> bit) & 1U) << kPromBit[bit];
    }
    return prom_address;
}

/// The permutation moves each bit on its own, so it is the OR of the
/// permuted bytes of the address: three small tables instead of 19 steps.
template <std::size_t Size>
constexpr std::array<std::uint32_t, Size> permuted_byte_table(unsigned shift) {
    std::array<std::uint32_t, Size> table{};
    for (std::uint32_t value = 0; value < Size; ++value) {
        table[value] = permute_bits(value << shift);
    }
    return table;
}

constexpr auto kLowByte = permuted_byte_table<256>(0);     // address bits 0..7
constexpr auto kMiddleByte = permuted_byte_table<256>(8);  // address bits 8..15
constexpr auto kHighBits = permuted_byte_table<8>(16);     // address bits 16..18

}  // namespace

std::uint32_t scramble(std::uint32_t address) {
    return kLowByte[address & 0xFF] | kMiddleByte[(address >> 8) & 0xFF] | kHighBits[(address >> 16) & 0x07];
}

std::vector<std::uint8_t> make_prom_image(std::span<const std::uint8_t> image) {
    assert(image.size() == kImageSize);
    std::vector<std::uint8_t> prom(kImageSize);
    for (std::uint32_t address = 0; address < kImageSize; ++address) {
        prom[scramble(address)] = image[address];
    }
    return prom;
}

std::vector<std::uint8_t> make_linear_image(std::span<const std::uint8_t> prom) {
    assert(prom.size() == kImageSize);
    std::vector<std::uint8_t> image(kImageSize);
    for (std::uint32_t address = 0; address < kImageSize; ++address) {
        image[address] = prom[scramble(address)];
    }
    return image;
}

}  // namespace dicttools
