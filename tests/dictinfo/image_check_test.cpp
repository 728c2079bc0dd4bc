#include "image_check.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "image_layout.hpp"
#include "image_packer.hpp"
#include "support/case_name.hpp"
#include "support/entry_tables.hpp"

namespace dictinfo {
namespace {

using dicttools::kImageSize;

/// An image with the given groups packed the way the builder packs them.
std::vector<std::uint8_t> image_of(const std::vector<std::pair<std::size_t, std::string>>& groups) {
    std::vector<std::uint8_t> image(kImageSize, 0);
    std::size_t at = dicttools::kFirstGroupAddress;
    for (const auto& [length, words] : groups) {
        dicttools::write_slot(image, length, at);
        std::copy(words.begin(), words.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
        at += words.size() + 1;
    }
    return image;
}

std::vector<std::uint8_t> changed(std::vector<std::uint8_t> image, std::size_t address, std::uint8_t byte) {
    image[address] = byte;
    return image;
}

// The worked example: Ox at 0x78, then ant cat dog at 0x7B.
std::vector<std::uint8_t> worked_example() { return image_of({{2, "Ox"}, {3, "antcatdog"}}); }

TEST(ImageCheck, WorkedExampleIsSound) {
    const std::vector<std::uint8_t> image = worked_example();
    const ImageReport report = check_image(image, kImageSize);
    EXPECT_TRUE(report.sound());
    EXPECT_EQ(report.end, 0x85U);
    ASSERT_EQ(report.groups.size(), 2U);
    EXPECT_EQ(report.groups[1].address, 0x7BU);
    EXPECT_EQ(report.groups[1].words, 3U);
    EXPECT_EQ(report.groups[1].bytes, 10U);
    EXPECT_EQ(std::vector<std::string>(report.words.begin(), report.words.end()),
              (std::vector<std::string>{"Ox", "ant", "cat", "dog"}));
}

TEST(ImageCheck, EmptyImageIsSound) {
    const std::vector<std::uint8_t> image(kImageSize, 0);
    const ImageReport report = check_image(image, kImageSize);
    EXPECT_TRUE(report.sound());
    EXPECT_TRUE(report.groups.empty());
}

/// `count` distinct words of `length` letters, in dictionary order.
std::vector<std::string> distinct_words(std::size_t length, std::size_t count) {
    std::vector<std::string> words;
    for (std::size_t n = 0; n < count; ++n) {
        std::string word(length, 'a');
        for (std::size_t i = length, rest = n; i-- > 0 && rest > 0; rest /= 26) {
            word[i] = static_cast<char>('a' + rest % 26);
        }
        words.push_back(word);
    }
    return words;
}

/// Words of lengths 2, 3 and 28 whose groups take exactly `bytes` bytes.
std::vector<std::string> filler(std::size_t bytes) {
    for (std::size_t threes = 0; threes < 3; ++threes) {
        for (std::size_t twos = 0; twos < 30; ++twos) {
            const std::size_t small = (twos > 0 ? 2 * twos + 1 : 0) + (threes > 0 ? 3 * threes + 1 : 0);
            if (small < bytes && (bytes - small - 1) % 28 == 0) {
                std::vector<std::string> words = distinct_words(2, twos);
                for (const auto& more : {distinct_words(3, threes), distinct_words(28, (bytes - small - 1) / 28)}) {
                    words.insert(words.end(), more.begin(), more.end());
                }
                return words;
            }
        }
    }
    return {};
}

struct ImageEnd {
    const char* name;
    std::size_t filler_bytes;  // from 0x78, before one last word of 29 letters
    std::size_t final_address;
};

class ImageEndTest : public testing::TestWithParam<ImageEnd> {};

// dictbuild's packer makes the image; the check must agree with it on the
// final address and find a stray byte or a lost terminator right at the end.
TEST_P(ImageEndTest, FinalAddressAsThePackerHasIt) {
    std::vector<std::string> words = filler(GetParam().filler_bytes);
    words.emplace_back(29, 'z');
    const dictbuild::PackedImage packed = dictbuild::pack_image(testing_support::table_of(words));
    ASSERT_EQ(packed.final_address, GetParam().final_address);

    const ImageReport report = check_image(packed.bytes, kImageSize);
    EXPECT_TRUE(report.sound()) << report.problems.front().what;
    EXPECT_EQ(report.final_address, packed.final_address);
    EXPECT_EQ(report.cut(), !packed.fits());
    EXPECT_EQ(report.notes.size(), packed.fits() ? 0U : 1U);
    std::size_t bytes = dicttools::kFirstGroupAddress;
    for (const Group& group : report.groups) {
        bytes += group.bytes;
    }
    EXPECT_EQ(bytes, std::min(packed.final_address, kImageSize));
    if (!packed.fits()) {
        return;
    }
    for (std::size_t stray = packed.final_address; stray < kImageSize; stray = std::max(stray + 1, kImageSize - 1)) {
        EXPECT_FALSE(check_image(changed(packed.bytes, stray, 'x'), kImageSize).sound()) << stray;
    }
    const ImageReport lost = check_image(changed(packed.bytes, packed.final_address - 1, 'x'), kImageSize);
    ASSERT_FALSE(lost.sound());
    // Where a word of 29 would no longer fit, the stray byte itself is the problem.
    EXPECT_EQ(lost.problems.front().address, packed.final_address - (packed.final_address + 28 > kImageSize ? 1 : 0));
}

INSTANTIATE_TEST_SUITE_P(LastGroup, ImageEndTest,
                         testing::Values(ImageEnd{"EndsWellBefore", 0x7F000 - 0x78 - 30, 0x7F000},
                                         ImageEnd{"TerminatorAt7FFFB", 0x7FFFC - 0x78 - 30, 0x7FFFC},
                                         ImageEnd{"TerminatorAt7FFFC", 0x7FFFD - 0x78 - 30, 0x7FFFD},
                                         ImageEnd{"TerminatorAt7FFFD", 0x7FFFE - 0x78 - 30, 0x7FFFE},
                                         ImageEnd{"TerminatorAt7FFFE", 0x7FFFF - 0x78 - 30, 0x7FFFF},
                                         ImageEnd{"TerminatorAt7FFFF", 0x80000 - 0x78 - 30, 0x80000},
                                         ImageEnd{"TerminatorJustBeyond", 0x80001 - 0x78 - 30, 0x80001},
                                         ImageEnd{"LastWordCut", 0x80010 - 0x78 - 30, 0x80010},
                                         ImageEnd{"LastGroupWhollyBeyond", 0x80000 - 0x78, 0x80000 + 30}),
                         testing_support::CaseName());

TEST(ImageCheck, ShortFileIsReadAsFarAsItGoes) {
    const std::vector<std::uint8_t> image = worked_example();
    const ImageReport report = check_image(image, 0x7F);  // ends inside "cat"
    EXPECT_TRUE(report.short_file());
    EXPECT_TRUE(report.sound());
    EXPECT_EQ(std::vector<std::string>(report.words.begin(), report.words.end()),
              (std::vector<std::string>{"Ox", "ant"}));
    EXPECT_TRUE(report.groups[1].cut);
}

TEST(ImageCheck, WordHoldingZeroIsLeftOutAndTheGroupReadOn) {
    const std::vector<std::uint8_t> image = changed(worked_example(), 0x7F, 0);  // "c\0t"
    const ImageReport report = check_image(image, kImageSize);                   // its words view the image
    EXPECT_EQ(report.problems.size(), 1U);
    EXPECT_EQ(std::vector<std::string>(report.words.begin(), report.words.end()),
              (std::vector<std::string>{"Ox", "ant", "dog"}));
    EXPECT_EQ(report.left_out, std::vector<std::size_t>{0x7E});
    EXPECT_EQ(report.final_address, 0x85U);
}

TEST(ImageCheck, PlausibleIndexIsOneDictbuildCouldHaveWritten) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> image;
        bool plausible;
    };
    for (const Case& c : {Case{"WorkedExample", worked_example(), true},
                          Case{"NoGroup", std::vector<std::uint8_t>(kImageSize, 0), false},
                          Case{"ByteBeforeTheIndex", changed(worked_example(), 0x05, 1), false},
                          Case{"SlotByteThree", changed(worked_example(), 0x0F, 1), false},
                          Case{"FirstGroupElsewhere", changed(worked_example(), 0x0A, 0x79), false},
                          Case{"NotAscending", changed(worked_example(), 0x0E, 0x78), false},
                          Case{"OutsideTheImage", changed(worked_example(), 0x0C, 0x09), false},
                          // Damaged groups behind a sound index:
                          Case{"BrokenGroup", changed(worked_example(), 0x7A, 'y'), true}}) {
        EXPECT_EQ(plausible_index(c.image), c.plausible) << c.name;
    }
}

struct BrokenImage {
    const char* name;
    std::vector<std::uint8_t> image;
    std::size_t address;  // of the first problem
    std::string what;
};

class BrokenImageTest : public testing::TestWithParam<BrokenImage> {};

TEST_P(BrokenImageTest, IsReportedWithItsAddress) {
    const ImageReport report = check_image(GetParam().image, kImageSize);
    ASSERT_FALSE(report.sound());
    EXPECT_EQ(report.problems.front().address, GetParam().address);
    EXPECT_EQ(report.problems.front().what, GetParam().what);
}

INSTANTIATE_TEST_SUITE_P(
    Layout, BrokenImageTest,
    testing::Values(BrokenImage{"BytesBeforeTheIndex", changed(worked_example(), 0x03, 1), 0x03,
                                "bytes 0x00000 to 0x00007 must be zero"},
                    BrokenImage{"SlotByteThree", changed(worked_example(), 0x0B, 7), 0x0B,
                                "byte 3 of the slot of length 2 is 0x07, not 0"},
                    BrokenImage{"FirstGroupElsewhere", changed(image_of({{3, "antcatdog"}}), 0x0E, 0x79), 0x0C,
                                "the slot of length 3 points at 0x00079, but the first group starts at 0x00078"},
                    BrokenImage{"NotBackToBack", changed(worked_example(), 0x0E, 0x7C), 0x0C,
                                "the slot of length 3 points at 0x0007C, but the group before it ends at 0x0007B"},
                    BrokenImage{"WordHoldsZero", changed(worked_example(), 0x7F, 0), 0x7F,
                                "the word of length 3 at 0x0007E holds a 0x00"},
                    BrokenImage{"MissingTerminator", changed(worked_example(), 0x7A, 'y'), 0x7A,
                                "the group of length 2 has no 0x00 terminator before the next group"},
                    BrokenImage{"OutOfOrder", image_of({{3, "catant"}}), 0x7B, "\"cat\" and \"ant\" are out of order"},
                    BrokenImage{"BytesAfterTheLastGroup", changed(worked_example(), 0x1000, 0xEE), 0x1000,
                                "1 non-zero byte after the last group, the first 0xEE"},
                    // Words that dictbuild would read back otherwise than they stand:
                    BrokenImage{"WordHoldsCtrlZ",
                                image_of({{3,
                                           "a\x1A"
                                           "b"}}),
                                0x79,
                                "the word \"a\\x1Ab\" at 0x00078 holds a 0x1A (Ctrl-Z), which ends a word list: "
                                "dictbuild reads nothing after it"},
                    BrokenImage{"WordHoldsLf", image_of({{3, "a\nb"}}), 0x79,
                                "the word \"a\\x0Ab\" at 0x00078 holds a LF, which ends a line of a word list: "
                                "dictbuild reads it as two"},
                    BrokenImage{"WordEndsInCr", image_of({{3, "ab\r"}}), 0x7A,
                                "the word \"ab\\x0D\" at 0x00078 ends in a CR, which dictbuild takes for part of "
                                "the line end"},
                    BrokenImage{"CrBeforeTheLastCharacter", image_of({{4, "ab\rc"}}), 0x7A,
                                "the word \"ab\\x0Dc\" at 0x00078 has a CR before its last character, which "
                                "dictbuild cuts off with what follows"},
                    BrokenImage{"SameWordTwice", image_of({{3, "antcatcat"}}), 0x7E,
                                "the word \"cat\" at 0x0007E is the same as the one before it: dictbuild keeps "
                                "only one"},
                    BrokenImage{"SameWordTwiceWithACaseVariantBetween", image_of({{3, "CatcatCatcat"}}), 0x7E,
                                "the word \"Cat\" at 0x0007E is the same as the one at 0x00078: dictbuild keeps "
                                "only one"},
                    BrokenImage{"SlotOutsideTheImage", changed(changed(worked_example(), 0x0C, 0x09), 0x0E, 0), 0x0C,
                                "the slot of length 3 points at 0x90000, but the group before it ends at 0x0007B"}),
    testing_support::CaseName());

}  // namespace
}  // namespace dictinfo
