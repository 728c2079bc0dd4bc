#include "unit_commands.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/fake_unit.hpp"
#include "support/temp_folder.hpp"
#include "unit_protocol.hpp"

namespace flashprog {
namespace {

using std::chrono::milliseconds;
using testing_support::FakeUnit;

const std::string kNoResponseLine = "ERROR - no response from unit. Reset and try again\n";

/// An image in which neighbouring addresses differ, holding every byte value.
std::vector<std::uint8_t> test_image() {
    std::vector<std::uint8_t> image(kFlashSize);
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    }
    return image;
}

std::string progress(const char* doing, std::size_t from, std::size_t step = kProgressStep) {
    std::string lines;
    for (std::size_t address = from; address < kFlashSize; address += step) {
        lines += std::string(doing) + " " + std::to_string(address) + " of 524288 bytes             \r";
    }
    return lines;
}

std::string progress_up_to(const char* doing, std::size_t from, std::size_t last) {
    std::string lines;
    for (std::size_t address = from; address <= last; address += kProgressStep) {
        lines += std::string(doing) + " " + std::to_string(address) + " of 524288 bytes             \r";
    }
    return lines;
}

TEST(Drain, SilentLineTakesOneTimeout) {
    FakeUnit unit;
    EXPECT_EQ(drain(unit), 0U);
    EXPECT_EQ(unit.read_timeouts, std::vector<milliseconds>{kReplyTimeout});
    EXPECT_TRUE(unit.sent.empty());
}

TEST(Drain, DiscardsWhatTheUnitSendsThenOneTimeout) {
    FakeUnit unit;
    unit.chatter = {0x55, 0x00, 0xFF};
    EXPECT_EQ(drain(unit), 3U);
    EXPECT_EQ(unit.read_timeouts.size(), 4U);
    EXPECT_EQ(unit.waited, kReplyTimeout);
}

TEST(Erase, WaitsUpToSeventySeconds) {
    struct Case {
        milliseconds erase_time;
        CommandOutcome outcome;
        std::string last_line;
    };
    for (const Case& c : {Case{milliseconds{65000}, CommandOutcome::done, "Erased OK\n"},
                          Case{milliseconds{70000}, CommandOutcome::done, "Erased OK\n"},
                          Case{milliseconds{71000}, CommandOutcome::no_response, kNoResponseLine}}) {
        FakeUnit unit;
        unit.model.erase_time = c.erase_time;
        std::ostringstream console;
        EXPECT_EQ(erase_flash(unit, console), c.outcome) << c.erase_time.count();
        EXPECT_EQ(console.str(),
                  "Sending the Erase command...\nWaiting for Erase to complete (about 64s)...\n" + c.last_line);
        EXPECT_EQ(unit.sent, std::vector<std::uint8_t>{'E'});
        EXPECT_EQ(unit.read_timeouts, std::vector<milliseconds>{kEraseTimeout});
    }
}

TEST(Download, WritesEveryByteAndReportsProgressFromAddressZero) {
    FakeUnit unit;
    const auto image = test_image();
    std::ostringstream console;
    EXPECT_EQ(download_image(unit, console, image), CommandOutcome::done);
    EXPECT_EQ(unit.model.flash(), image);
    EXPECT_EQ(console.str(), "Sending the Download command...\nWaiting for acknowledge...\n" +
                                 progress("Downloading", 0) + "\nFinished programming.\n");
    ASSERT_EQ(unit.sent.size(), kFlashSize + 1);
    EXPECT_EQ(unit.sent.front(), 'P');
    EXPECT_EQ(unit.read_timeouts.size(), kFlashSize + 1) << "one answer awaited for every byte sent";
}

TEST(Download, NoAcknowledgeSendsNoData) {
    FakeUnit unit;
    unit.answers_left = 0;
    std::ostringstream console;
    EXPECT_EQ(download_image(unit, console, test_image()), CommandOutcome::no_response);
    EXPECT_EQ(console.str(), "Sending the Download command...\nWaiting for acknowledge...\n" + kNoResponseLine);
    EXPECT_EQ(unit.sent, std::vector<std::uint8_t>{'P'});
}

TEST(Download, UnitFallingSilentAtAddress70000) {
    FakeUnit unit;
    unit.answers_left = 1 + 70000;  // the acknowledge of 'P', then addresses 0 to 69999
    std::ostringstream console;
    EXPECT_EQ(download_image(unit, console, test_image()), CommandOutcome::no_response);
    EXPECT_EQ(console.str(), "Sending the Download command...\nWaiting for acknowledge...\n" +
                                 progress_up_to("Downloading", 0, 69000) + kNoResponseLine +
                                 "\nFinished programming.\n");
    EXPECT_EQ(unit.sent.size(), 1 + 70001U) << "nothing is sent after the missing answer";
}

TEST(Verify, MatchingFlashReportsProgressFromAddress1000) {
    const auto image = test_image();
    FakeUnit unit;
    unit.model.flash() = image;
    std::ostringstream console;
    EXPECT_EQ(verify_flash(unit, console, image), CommandOutcome::done);
    EXPECT_EQ(console.str(), "Sending the Verify command...\nWaiting for acknowledge...\n" +
                                 progress("Verifying", 1000) + "\nFinished, verified OK.\n");
    EXPECT_EQ(unit.sent.size(), kFlashSize);
    EXPECT_EQ(unit.sent.front(), 'V');
    EXPECT_EQ(std::count(unit.sent.begin(), unit.sent.end(), kNextAddress),
              static_cast<std::ptrdiff_t>(kFlashSize - 1));
}

TEST(Verify, StopsAtTheFirstMismatch) {
    struct Case {
        const char* name;
        std::size_t address;
        std::uint8_t image_byte;
        std::uint8_t flash_byte;
        std::string report;
        std::string progress;
    };
    const Case cases[] = {
        {"AtZero", 0, 0x0A, 0x00, "\nMismatch at 0: file=A flash =0\n", ""},
        {"At0x1000", 0x1000, 0x41, 0xFF, "\nMismatch at 1000: file=41 flash =FF\n",
         progress_up_to("Verifying", 1000, 4000)},
        {"AtTheLastAddress", 0x7FFFF, 0x00, 0x01, "\nMismatch at 7FFFF: file=0 flash =1\n",
         progress_up_to("Verifying", 1000, 524000)},
    };
    for (const Case& c : cases) {
        auto image = test_image();
        image[c.address] = c.image_byte;
        FakeUnit unit;
        unit.model.flash() = image;
        unit.model.flash()[c.address] = c.flash_byte;
        std::ostringstream console;
        EXPECT_EQ(verify_flash(unit, console, image), CommandOutcome::mismatch) << c.name;
        EXPECT_EQ(console.str(), "Sending the Verify command...\nWaiting for acknowledge...\n" + c.progress + c.report)
            << c.name;
        EXPECT_EQ(unit.sent.size(), c.address + 1) << c.name << ": nothing sent after the mismatch";
    }
}

TEST(Verify, UnitFallingSilentIsNeitherMismatchNorSuccess) {
    const auto image = test_image();
    FakeUnit unit;
    unit.model.flash() = image;
    unit.answers_left = 2500;
    std::ostringstream console;
    EXPECT_EQ(verify_flash(unit, console, image), CommandOutcome::no_response);
    EXPECT_EQ(console.str(), "Sending the Verify command...\nWaiting for acknowledge...\n" +
                                 progress_up_to("Verifying", 1000, 2000) + kNoResponseLine);
}

TEST(Save, WritesExactlyTheFlash) {
    const testing_support::TempFolder folder;
    FakeUnit unit;
    unit.model.flash() = test_image();
    std::ostringstream console;
    EXPECT_EQ(save_flash(unit, console, folder / "dic.sav"), CommandOutcome::done);
    const std::string saved = folder.read("dic.sav");
    EXPECT_EQ(std::vector<std::uint8_t>(saved.begin(), saved.end()), unit.model.flash());
    EXPECT_EQ(console.str(), "Sending the Verify command...\nWaiting for acknowledge...\n" + progress("Saving", 1000) +
                                 "\nFinished\n");
    EXPECT_EQ(folder.entry_count(), 1U);
}

TEST(Save, NoAnswerCreatesNoFile) {
    const testing_support::TempFolder folder;
    FakeUnit unit;
    unit.answers_left = 0;
    std::ostringstream console;
    EXPECT_EQ(save_flash(unit, console, folder / "dic.sav"), CommandOutcome::no_response);
    EXPECT_EQ(console.str(), "Sending the Verify command...\nWaiting for acknowledge...\n" + kNoResponseLine);
    EXPECT_EQ(folder.entry_count(), 0U);
}

TEST(Save, UnitFallingSilentKeepsTheBytesReadSoFar) {
    const testing_support::TempFolder folder;
    FakeUnit unit;
    unit.model.flash() = test_image();
    unit.answers_left = 5000;  // addresses 0 to 4999
    std::ostringstream console;
    EXPECT_EQ(save_flash(unit, console, folder / "dic.sav"), CommandOutcome::no_response);
    EXPECT_EQ(console.str(), "Sending the Verify command...\nWaiting for acknowledge...\n" +
                                 progress_up_to("Saving", 1000, 5000) + kNoResponseLine + "\nFinished\n");
    const std::string saved = folder.read("dic.sav");
    EXPECT_EQ(std::vector<std::uint8_t>(saved.begin(), saved.end()),
              std::vector<std::uint8_t>(unit.model.flash().begin(), unit.model.flash().begin() + 5000));
}

TEST(Save, FileThatCannotBeWrittenIsReportedAndKeepsTheOldOne) {
    const testing_support::TempFolder folder;
    std::filesystem::create_directory(folder / "dic.sav");  // in the way of the new file
    FakeUnit unit;
    std::ostringstream console;
    EXPECT_EQ(save_flash(unit, console, folder / "dic.sav"), CommandOutcome::save_failed);
    EXPECT_NE(console.str().find("ERROR: Could not write dic.sav: Is a directory\n"), std::string::npos)
        << console.str();
    EXPECT_TRUE(std::filesystem::is_directory(folder / "dic.sav"));
    EXPECT_EQ(folder.entry_count(), 1U) << "no temporary file is left behind";

    FakeUnit second;
    std::ostringstream console2;
    EXPECT_EQ(save_flash(second, console2, folder / "missing" / "dic.sav"), CommandOutcome::save_failed);
    EXPECT_NE(console2.str().find("ERROR: Could not write dic.sav: No such file or directory\n"), std::string::npos);
    EXPECT_EQ(second.sent, std::vector<std::uint8_t>{'V'}) << "the read-back stops at once";
}

}  // namespace
}  // namespace flashprog
