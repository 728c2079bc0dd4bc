#include "prom_image.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "image_layout.hpp"

namespace dicttools {
namespace {

TEST(Scramble, IsABijectionOfTheImageAddresses) {
    std::vector<bool> hit(kImageSize, false);
    for (std::uint32_t address = 0; address < kImageSize; ++address) {
        const std::uint32_t prom_address = scramble(address);
        ASSERT_LT(prom_address, kImageSize) << std::hex << address;
        ASSERT_FALSE(hit[prom_address]) << std::hex << address << " lands twice on " << prom_address;
        hit[prom_address] = true;
    }
}

TEST(Scramble, KnownAddresses) {
    const std::pair<std::uint32_t, std::uint32_t> cases[] = {
        {0x00000, 0x00000}, {0x7FFFF, 0x7FFFF}, {0x00001, 0x00100}, {0x00008, 0x01000}, {0x00078, 0x39000},
        {0x40000, 0x00020}, {0x0000A, 0x03000}, {0x0000E, 0x07000}, {0x00084, 0x44000},
    };
    for (const auto& [address, prom_address] : cases) {
        EXPECT_EQ(scramble(address), prom_address) << std::hex << address;
    }
}

TEST(Scramble, IgnoresBitsAboveTheAddressRange) { EXPECT_EQ(scramble(0xFFF80001), scramble(0x00001)); }

TEST(PromImage, EachByteMovesToItsScrambledAddress) {
    std::vector<std::uint8_t> image(kImageSize, 0);
    image[0x00001] = 0xA5;
    image[0x40000] = 0x11;
    image[0x7FFFF] = 0xFF;
    const std::vector<std::uint8_t> prom = make_prom_image(image);
    ASSERT_EQ(prom.size(), kImageSize);
    EXPECT_EQ(prom[0x00100], 0xA5);
    EXPECT_EQ(prom[0x00020], 0x11);
    EXPECT_EQ(prom[0x7FFFF], 0xFF);
    EXPECT_EQ(std::count(prom.begin(), prom.end(), 0), static_cast<std::ptrdiff_t>(kImageSize - 3));
    EXPECT_EQ(make_linear_image(prom), image);
}

TEST(PromImage, PiecesHoldEveryByteAtItsScrambledAddress) {
    std::vector<std::uint8_t> image(kImageSize);
    for (std::uint32_t address = 0; address < kImageSize; ++address) {
        image[address] = static_cast<std::uint8_t>(address ^ address >> 8 ^ address >> 16);
    }
    std::vector<std::uint8_t> prom;
    std::size_t pieces = 0;
    for_each_prom_piece(image, [&](std::span<const std::uint8_t> piece) {
        EXPECT_EQ(piece.size(), kPromPieceSize);
        prom.insert(prom.end(), piece.begin(), piece.end());
        ++pieces;
    });
    EXPECT_EQ(pieces, kImageSize / kPromPieceSize);
    ASSERT_EQ(prom.size(), kImageSize);
    for (std::uint32_t address = 0; address < kImageSize; ++address) {
        ASSERT_EQ(prom[scramble(address)], image[address]) << "image address " << address;
    }
}

}  // namespace
}  // namespace dicttools
