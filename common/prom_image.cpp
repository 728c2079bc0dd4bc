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

/// Calls move(address, scramble(address)) for every image address whose
/// PROM address lies in the piece of kPromPieceSize bytes from
/// `piece_start`. A piece is a value of the PROM address bits above its
/// size, which only bits of the image address's low byte drive. Image bits
/// 8..15 change fastest: they drive PROM bits 0..4, so the PROM bytes
/// touched one after another lie close together (about 8 times faster than
/// going through the addresses in order).
template <class Move>
void for_each_address_in_piece(std::uint32_t piece_start, Move move) {
    static_assert(kPromPieceSize == std::size_t{1} << 16 && (kMiddleByte[0xFF] | kHighBits[7]) < kPromPieceSize);
    for (std::uint32_t high = 0; high < kHighBits.size(); ++high) {
        for (std::uint32_t low = 0; low < kLowByte.size(); ++low) {
            const std::uint32_t prom_base = kHighBits[high] | kLowByte[low];
            if ((prom_base & ~std::uint32_t{kPromPieceSize - 1}) != piece_start) {
                continue;  // in another piece
            }
            for (std::uint32_t middle = 0; middle < kMiddleByte.size(); ++middle) {
                move(high << 16 | middle << 8 | low, prom_base | kMiddleByte[middle]);
            }
        }
    }
}

}  // namespace

std::uint32_t scramble(std::uint32_t address) {
    return kLowByte[address & 0xFF] | kMiddleByte[(address >> 8) & 0xFF] | kHighBits[(address >> 16) & 0x07];
}

std::vector<std::uint8_t> make_prom_image(std::span<const std::uint8_t> image) {
    std::vector<std::uint8_t> prom;
    prom.reserve(kImageSize);
    for_each_prom_piece(
        image, [&prom](std::span<const std::uint8_t> piece) { prom.insert(prom.end(), piece.begin(), piece.end()); });
    return prom;
}

void for_each_prom_piece(std::span<const std::uint8_t> image,
                         const std::function<void(std::span<const std::uint8_t>)>& take) {
    assert(image.size() == kImageSize);
    std::vector<std::uint8_t> piece(kPromPieceSize);
    for (std::uint32_t piece_start = 0; piece_start < kImageSize; piece_start += kPromPieceSize) {
        for_each_address_in_piece(piece_start, [&](std::uint32_t address, std::uint32_t prom_address) {
            piece[prom_address - piece_start] = image[address];
        });
        take(piece);
    }
}

std::vector<std::uint8_t> make_linear_image(std::span<const std::uint8_t> prom) {
    assert(prom.size() == kImageSize);
    std::vector<std::uint8_t> image(kImageSize);
    for (std::uint32_t piece_start = 0; piece_start < kImageSize; piece_start += kPromPieceSize) {
        for_each_address_in_piece(piece_start, [&](std::uint32_t address, std::uint32_t prom_address) {
            image[address] = prom[prom_address];
        });
    }
    return image;
}

}  // namespace dicttools
