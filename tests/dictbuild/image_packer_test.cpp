#include "image_packer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "entry_sort.hpp"
#include "support/entry_tables.hpp"

namespace dictbuild {
namespace {

using namespace dicttools;  // the layout

/// `count` distinct words of `length` lower-case letters, in dictionary order.
std::vector<std::string> words_of_length(std::size_t length, std::size_t count) {
    std::vector<std::string> words;
    words.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::string word(length, 'a');
        for (std::size_t n = i, pos = length; n > 0 && pos > 0; n /= 26) {
            word[--pos] = static_cast<char>('a' + n % 26);
        }
        words.push_back(std::move(word));
    }
    return words;
}

PackedImage pack(const std::vector<std::string>& words) { return pack_image(testing_support::table_of(words)); }

std::size_t slot_address(const PackedImage& packed, std::size_t length) {
    const std::size_t slot = slot_offset(length);
    EXPECT_EQ(packed.bytes[slot + 3], 0) << "slot of length " << length;
    return std::size_t{packed.bytes[slot]} << 16 | std::size_t{packed.bytes[slot + 1]} << 8 | packed.bytes[slot + 2];
}

std::string bytes_at(const PackedImage& packed, std::size_t address, std::size_t count) {
    return {reinterpret_cast<const char*>(packed.bytes.data()) + address, count};
}

std::size_t nonzero_bytes_from(const PackedImage& packed, std::size_t address) {
    std::size_t count = 0;
    for (std::size_t i = address; i < packed.bytes.size(); ++i) {
        count += packed.bytes[i] != 0;
    }
    return count;
}

TEST(Packer, WorkedExample) {
    EntryTable entries = testing_support::table_of({"dog", "cat", "Ox", "cat", "ant"});
    sort_and_clean_up(entries);
    const PackedImage packed = pack_image(entries);

    std::vector<std::uint8_t> expected(kImageSize, 0);
    expected[0x0A] = 0x78;
    expected[0x0E] = 0x7B;
    const std::string groups = std::string("Ox") + '\0' + "antcatdog" + '\0';
    std::copy(groups.begin(), groups.end(), expected.begin() + 0x78);

    EXPECT_EQ(packed.final_address, 0x85U);
    EXPECT_TRUE(packed.fits());
    EXPECT_EQ(packed.bytes, expected);
}

TEST(Packer, EmptyListGivesAZeroImage) {
    const PackedImage packed = pack({"", "x", ""});
    EXPECT_EQ(packed.final_address, kFirstGroupAddress);
    EXPECT_EQ(packed.bytes, std::vector<std::uint8_t>(kImageSize, 0));
}

TEST(Packer, MissingLengthsKeepZeroSlots) {
    const PackedImage packed = pack({"ab", "abcde", std::string(29, 'z')});
    EXPECT_EQ(slot_address(packed, 2), 0x78U);
    EXPECT_EQ(slot_address(packed, 3), 0U);
    EXPECT_EQ(slot_address(packed, 4), 0U);
    EXPECT_EQ(slot_address(packed, 5), 0x7BU);
    EXPECT_EQ(slot_address(packed, 28), 0U);
    EXPECT_EQ(slot_address(packed, 29), 0x81U);
    EXPECT_EQ(packed.final_address, 0x81U + 30);
}

// 74881 words of 7 letters take 524167 bytes, which with the terminator
// fill the image from 0x78 exactly to its end.
constexpr std::size_t kWordsFillingTheImage = 74881;

TEST(Packer, ImageEndingExactlyAtItsSizeFits) {
    const auto words = words_of_length(7, kWordsFillingTheImage);
    const PackedImage packed = pack(words);
    EXPECT_EQ(packed.final_address, kImageSize);
    EXPECT_TRUE(packed.fits());
    EXPECT_EQ(bytes_at(packed, kImageSize - 8, 7), words.back());
    EXPECT_EQ(packed.bytes[kImageSize - 1], 0);
}

TEST(Packer, GroupStartingAtTheImageEndHasItsSlotButNoBytes) {
    auto words = words_of_length(7, kWordsFillingTheImage);
    words.emplace_back("eightchr");
    words.emplace_back("ninechars");
    const PackedImage packed = pack(words);
    EXPECT_EQ(bytes_at(packed, slot_offset(8), 4), std::string("\x08\0\0\0", 4));
    EXPECT_EQ(slot_address(packed, 9), 0U) << "packing stops after the group that crossed";
    EXPECT_EQ(packed.final_address, kImageSize + 9);
    EXPECT_FALSE(packed.fits());
}

TEST(Packer, OverflowInsideAGroupCutsItAndDropsTheLongerLengths) {
    std::vector<std::string> words;
    for (std::size_t length = 2; length <= 6; ++length) {
        const auto group = words_of_length(length, 100);
        words.insert(words.end(), group.begin(), group.end());
    }
    const auto sevens = words_of_length(7, kWordsFillingTheImage);
    words.insert(words.end(), sevens.begin(), sevens.end());
    words.emplace_back("eightchr");
    const PackedImage packed = pack(words);

    std::size_t expected_address = kFirstGroupAddress;
    for (std::size_t length = 2; length <= 6; ++length) {
        EXPECT_EQ(slot_address(packed, length), expected_address);
        expected_address += 100 * length + 1;
        EXPECT_EQ(packed.bytes[expected_address - 1], 0) << "terminator of length " << length;
    }
    EXPECT_EQ(slot_address(packed, 7), expected_address);
    EXPECT_EQ(slot_address(packed, 8), 0U);
    EXPECT_EQ(packed.final_address, expected_address + 7 * kWordsFillingTheImage + 1);
    EXPECT_FALSE(packed.fits());
    // The group of length 7 runs up to the last byte of the image.
    const std::size_t last_word = (kImageSize - expected_address) / 7;
    const std::size_t cut = kImageSize - (expected_address + 7 * last_word);
    EXPECT_EQ(bytes_at(packed, kImageSize - cut, cut), sevens[last_word].substr(0, cut));
}

TEST(Packer, GroupFarLargerThanTheImageStaysInside) {
    const auto words = words_of_length(29, 200000);
    const PackedImage packed = pack(words);
    ASSERT_EQ(packed.bytes.size(), kImageSize);
    EXPECT_EQ(packed.final_address, kFirstGroupAddress + std::size_t{29} * 200000 + 1);
    EXPECT_EQ(slot_address(packed, 29), kFirstGroupAddress);
    EXPECT_EQ(nonzero_bytes_from(packed, kFirstGroupAddress), kImageSize - kFirstGroupAddress);
}

}  // namespace
}  // namespace dictbuild
