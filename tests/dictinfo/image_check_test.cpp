#include "image_check.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_layout.hpp"
#include "support/case_name.hpp"

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

TEST(ImageCheck, GroupCutAtTheImageEndIsNotCorruption) {
    std::vector<std::uint8_t> image(kImageSize, 'w');
    std::fill_n(image.begin(), dicttools::kFirstGroupAddress, 0);
    dicttools::write_slot(image, 8, dicttools::kFirstGroupAddress);
    const ImageReport report = check_image(image, kImageSize);
    EXPECT_TRUE(report.sound()) << report.problems.front().what;
    ASSERT_EQ(report.groups.size(), 1U);
    EXPECT_TRUE(report.groups[0].cut);
    EXPECT_EQ(report.words.size(), (kImageSize - dicttools::kFirstGroupAddress) / 8);
}

TEST(ImageCheck, ShortFileIsReadAsFarAsItGoes) {
    const std::vector<std::uint8_t> image = worked_example();
    const ImageReport report = check_image(image, 0x7F);  // ends inside "cat"
    EXPECT_TRUE(report.short_file());
    EXPECT_TRUE(report.sound());
    EXPECT_EQ(std::vector<std::string>(report.words.begin(), report.words.end()),
              (std::vector<std::string>{"Ox", "ant"}));
    EXPECT_TRUE(report.groups[1].cut);
}

struct BrokenImage {
    const char* name;
    std::vector<std::uint8_t> image;
    std::size_t address;  // of the first problem
    std::string what;
};

std::vector<std::uint8_t> changed(std::vector<std::uint8_t> image, std::size_t address, std::uint8_t byte) {
    image[address] = byte;
    return image;
}

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
                                "1 non-zero byte(s) after the last group, the first 0xEE"},
                    BrokenImage{"SlotOutsideTheImage", changed(changed(worked_example(), 0x0C, 0x09), 0x0E, 0), 0x0C,
                                "the slot of length 3 points at 0x90000, but the group before it ends at 0x0007B"}),
    testing_support::CaseName());

}  // namespace
}  // namespace dictinfo
