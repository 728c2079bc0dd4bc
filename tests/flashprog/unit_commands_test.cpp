#include "unit_commands.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <optional>
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
    EXPECT_EQ(drain(unit).bytes, 0U);
    EXPECT_EQ(unit.read_timeouts, std::vector<milliseconds>{kReplyTimeout});
    EXPECT_TRUE(unit.sent.empty());
}

TEST(Drain, DiscardsWhatTheUnitSendsThenOneTimeout) {
    FakeUnit unit;
    unit.chatter = {0x55, 0x00, 0xFF};
    EXPECT_EQ(drain(unit).bytes, 3U);
    EXPECT_EQ(unit.read_timeouts.size(), 4U);
    EXPECT_EQ(unit.waited, kReplyTimeout);
}

TEST(Drain, EndsWhenBytesStillComeAfterTwoSeconds) {
    struct Case {
        const char* name;
        std::size_t chatter;  // bytes the line sends, 2 ms apart
        std::optional<std::size_t> interrupt_at_read;
        Drained drained;
    };
    const Case cases[] = {
        {"BurstThatEndsJustInTime", 999, {}, {999, false, false, false}},
        {"LineThatKeepsSending", 5000, {}, {1000, false, false, true}},
        {"InterruptedWhileItKeepsSending", 5000, 300, {300, false, true, false}},
    };
    for (const Case& c : cases) {
        FakeUnit unit;
        unit.chatter.assign(c.chatter, 0x00);
        unit.interrupt_at_read = c.interrupt_at_read;
        const Clock every_read_takes_2_ms = [&unit] {
            return std::chrono::steady_clock::time_point(milliseconds{2} * unit.read_timeouts.size());
        };
        const Drained drained = drain(unit, every_read_takes_2_ms);
        EXPECT_EQ(drained.bytes, c.drained.bytes) << c.name;
        EXPECT_EQ(drained.interrupted, c.drained.interrupted) << c.name;
        EXPECT_EQ(drained.endless, c.drained.endless) << c.name;
        EXPECT_TRUE(unit.sent.empty()) << c.name;
    }
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
    std::ostringstream errors;
    EXPECT_EQ(download_image(unit, console, errors, image), CommandOutcome::done);
    EXPECT_EQ(unit.model.flash(), image);
    EXPECT_EQ(console.str(), "Sending the Download command...\nWaiting for acknowledge...\n" +
                                 progress("Downloading", 0) + "\nFinished programming.\n");
    ASSERT_EQ(unit.sent.size(), kFlashSize + 1);
    EXPECT_EQ(unit.sent.front(), 'P');
    EXPECT_EQ(unit.read_timeouts.size(), kFlashSize + 2)
        << "one answer awaited for every byte sent, then one wait for bytes the unit should not send";
}

TEST(Download, NoAcknowledgeSendsNoData) {
    FakeUnit unit;
    unit.answers_left = 0;
    std::ostringstream console;
    std::ostringstream errors;
    EXPECT_EQ(download_image(unit, console, errors, test_image()), CommandOutcome::no_response);
    EXPECT_EQ(console.str(), "Sending the Download command...\nWaiting for acknowledge...\n" + kNoResponseLine);
    EXPECT_EQ(unit.sent, std::vector<std::uint8_t>{'P'});
}

TEST(Download, UnitFallingSilentAtAddress70000) {
    FakeUnit unit;
    unit.answers_left = 1 + 70000;  // the acknowledge of 'P', then addresses 0 to 69999
    std::ostringstream console;
    std::ostringstream errors;
    EXPECT_EQ(download_image(unit, console, errors, test_image()), CommandOutcome::no_response);
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
    std::ostringstream errors;
    EXPECT_EQ(verify_flash(unit, console, errors, image), CommandOutcome::done);
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
        std::ostringstream errors;
        EXPECT_EQ(verify_flash(unit, console, errors, image), CommandOutcome::mismatch) << c.name;
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
    std::ostringstream errors;
    EXPECT_EQ(verify_flash(unit, console, errors, image), CommandOutcome::no_response);
    EXPECT_EQ(console.str(), "Sending the Verify command...\nWaiting for acknowledge...\n" +
                                 progress_up_to("Verifying", 1000, 2000) + kNoResponseLine);
}

TEST(Save, WritesExactlyTheFlash) {
    const testing_support::TempFolder folder;
    FakeUnit unit;
    unit.model.flash() = test_image();
    std::ostringstream console;
    std::ostringstream errors;
    EXPECT_EQ(save_flash(unit, console, errors, folder / "dic.sav"), CommandOutcome::done);
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
    std::ostringstream errors;
    EXPECT_EQ(save_flash(unit, console, errors, folder / "dic.sav"), CommandOutcome::no_response);
    EXPECT_EQ(console.str(), "Sending the Verify command...\nWaiting for acknowledge...\n" + kNoResponseLine);
    EXPECT_EQ(folder.entry_count(), 0U);
}

TEST(Save, UnitFallingSilentKeepsTheBytesReadSoFar) {
    const testing_support::TempFolder folder;
    FakeUnit unit;
    unit.model.flash() = test_image();
    unit.answers_left = 5000;  // addresses 0 to 4999
    std::ostringstream console;
    std::ostringstream errors;
    EXPECT_EQ(save_flash(unit, console, errors, folder / "dic.sav"), CommandOutcome::no_response);
    EXPECT_EQ(console.str(), "Sending the Verify command...\nWaiting for acknowledge...\n" +
                                 progress_up_to("Saving", 1000, 5000) + kNoResponseLine + "\nFinished\n");
    const std::string saved = folder.read("dic.sav");
    EXPECT_EQ(std::vector<std::uint8_t>(saved.begin(), saved.end()),
              std::vector<std::uint8_t>(unit.model.flash().begin(), unit.model.flash().begin() + 5000));
}

// A folder put in dic.sav's way during the transfer.
TEST(Save, CompleteReadBackThatCannotTakeItsPlaceIsKeptBesideIt) {
    const testing_support::TempFolder folder;
    FakeUnit unit;
    unit.model.flash() = test_image();
    unit.at_read = [&folder](std::size_t read) {
        if (read == 100) {
            std::filesystem::create_directory(folder / "dic.sav");
        }
    };
    std::ostringstream console;
    std::ostringstream errors;
    EXPECT_EQ(save_flash(unit, console, errors, folder / "dic.sav"), CommandOutcome::save_failed);
    EXPECT_NE(console.str().find("\nERROR: Could not write dic.sav: "), std::string::npos) << console.str();
    EXPECT_EQ(errors.str(), "flashprog: the whole read-back is kept in dic.sav.part\n");
    const std::string kept = folder.read("dic.sav.part");
    EXPECT_EQ(std::vector<std::uint8_t>(kept.begin(), kept.end()), unit.model.flash());
}

TEST(Save, FileThatCannotBeWrittenIsRefusedBeforeTheUnitIsAsked) {
    struct Case {
        const char* name;
        std::vector<const char*> folders;  // in the way of the files
        bool earlier;                      // a dic.sav to keep
        std::string target;
        std::string message;
        int no_space_at = 0;           // the reservation (counted from 1) that finds the disk full; 0: none
        bool write_protected = false;  // the earlier dic.sav may only be read
    };
    const std::string long_name(252, 'n');  // its temporary's name is longer than a name may be
    const std::string longer_name(256, 'n');
    const Case cases[] = {
        {"DiskTooSmall", {}, false, "dic.sav", "ERROR: Could not write dic.sav: No space left on device\n", 1},
        {"DiskTooSmallForThePart",
         {},
         true,
         "dic.sav",
         "ERROR: Could not write dic.sav.part: No space left on device\n",
         2},
        {"SavIsAFolder", {"dic.sav"}, false, "dic.sav", "ERROR: Could not write dic.sav: Is a directory\n"},
        {"NoSuchFolder", {}, false, "missing/dic.sav", "ERROR: Could not write dic.sav: No such file or directory\n"},
        {"FolderTakesNoFile",
         {},
         false,
         "/proc/version",
         "ERROR: Could not write version: cannot create a file in /proc: No such file or directory\n"},
        {"PartIsAFolderBesideAnEarlier",
         {"dic.sav.part"},
         true,
         "dic.sav",
         "ERROR: Could not write dic.sav.part: Is a directory\n"},
        {"SavIsWriteProtected", {}, true, "dic.sav", "ERROR: Could not write dic.sav: Permission denied\n", 0, true},
        {"NameTooLong", {}, false, longer_name, "ERROR: Could not write " + longer_name + ": File name too long\n"},
        {"TemporaryNameTooLong",
         {},
         false,
         long_name,
         "ERROR: Could not write " + long_name + ": File name too long\n"},
    };
    for (const Case& c : cases) {
#if GTEST_OS_WINDOWS
        if (c.message.ends_with(": File name too long\n") || c.target.starts_with("/proc/")) {
            continue;  // Windows gives another reason for a name too long, and has no /proc
        }
#endif
        const testing_support::TempFolder folder;
        for (const char* in_the_way : c.folders) {
            std::filesystem::create_directory(folder / in_the_way);
        }
        if (c.earlier) {
            folder.write("dic.sav", "an earlier read-back");
        }
        using std::filesystem::perms;
        if (c.write_protected) {
            std::filesystem::permissions(folder / "dic.sav",
                                         perms::owner_read | perms::group_read | perms::others_read);
            if (std::ofstream(folder / "dic.sav", std::ios::app)) {
                continue;  // this user (root) writes it all the same
            }
        }
        const std::size_t entries = folder.entry_count();
        FakeUnit unit;
        std::ostringstream console;
        std::ostringstream errors;
        int reservations = 0;
        const SpaceReservation reserve = [&](dicttools::FileReplacement& file, std::uintmax_t bytes) {
            EXPECT_EQ(bytes, kFlashSize);
            if (++reservations == c.no_space_at) {
                throw dicttools::FileError(std::string("Could not write ") +
                                           (reservations == 1 ? "dic.sav" : "dic.sav.part") +
                                           ": No space left on device");
            }
            file.reserve(bytes);
        };
        EXPECT_EQ(save_flash(unit, console, errors, folder / c.target, std::chrono::steady_clock::now, reserve),
                  CommandOutcome::save_failed)
            << c.name;
        EXPECT_EQ(console.str(), c.message) << c.name;
        EXPECT_TRUE(unit.sent.empty()) << c.name << ": checked before the unit is asked";
        EXPECT_EQ(folder.entry_count(), entries) << c.name << ": no temporary file is left behind";
        if (c.earlier) {
            EXPECT_EQ(folder.read("dic.sav"), "an earlier read-back") << c.name;
        }
        if (c.write_protected) {
            std::filesystem::permissions(folder / "dic.sav", perms::owner_all);  // for the folder's removal
        }
    }
}

enum class Command { erase, download, verify, save };

CommandOutcome carry_out(Command command, FakeUnit& unit, std::ostream& console, std::ostream& errors,
                         const std::filesystem::path& folder) {
    const auto image = unit.model.flash();  // verify finds the flash as the image holds it
    switch (command) {
        case Command::erase:
            return erase_flash(unit, console);
        case Command::download:
            return download_image(unit, console, errors, image);
        case Command::verify:
            return verify_flash(unit, console, errors, image);
        case Command::save:
            return save_flash(unit, console, errors, folder / "dic.sav");
    }
    return CommandOutcome::done;
}

TEST(Interrupt, EndsTheExchangeWithOneLineOnTheFlash) {
    const std::string download = "Interrupted: the flash is partly programmed; erase and download again.\n";
    const std::string verify = "Interrupted: the flash is unchanged but not verified.\n";
    const std::string save = "Interrupted: the flash is unchanged; the read-back is incomplete.\n";
    struct Case {
        const char* name;
        Command command;
        std::size_t read;  // the read that finds the stop request
        std::string console_tail;
    };
    const Case cases[] = {
        {"EraseWaiting", Command::erase, 0,
         "Waiting for Erase to complete (about 64s)...\nInterrupted: the erase may be incomplete; erase again.\n"},
        {"DownloadAcknowledge", Command::download, 0, "Waiting for acknowledge...\n" + download},
        {"DownloadBytes", Command::download, 2500, "Downloading 2000 of 524288 bytes             \r" + download},
        {"DownloadAfterTheLastByte", Command::download, kFlashSize + 1,
         "Downloading 524000 of 524288 bytes             \r"
         "Interrupted: the flash is fully programmed; every byte was acknowledged.\n"},
        {"VerifyBytes", Command::verify, 1500, "Verifying 1000 of 524288 bytes             \r" + verify},
        {"SaveFirstByte", Command::save, 0, "Waiting for acknowledge...\n" + save},
    };
    for (const Case& c : cases) {
        const testing_support::TempFolder folder;
        FakeUnit unit;
        unit.interrupt_at_read = c.read;
        std::ostringstream console;
        std::ostringstream errors;
        EXPECT_EQ(carry_out(c.command, unit, console, errors, folder.path()), CommandOutcome::interrupted) << c.name;
        EXPECT_TRUE(console.str().ends_with(c.console_tail)) << c.name << ": " << console.str().substr(0, 200);
        EXPECT_EQ(unit.read_timeouts.size(), c.read + 1) << c.name << ": no read after the stop";
        EXPECT_LE(unit.sent.size(), c.read + 1) << c.name << ": nothing sent after it";
        EXPECT_EQ(folder.entry_count(), 0U) << c.name;
        EXPECT_EQ(errors.str(), "") << c.name;
    }
}

TEST(StrayByte, ShiftsTheAnswersAndIsReported) {
    const std::string unasked =
        "flashprog: the unit sent 1 byte more than it was asked for: its answers were out of step, so ";
    struct Case {
        Command command;
        std::string console_tail;
        std::string errors;
    };
    const Case cases[] = {
        {Command::download, "\nFinished programming.\n",
         unasked + "some bytes may be programmed at the wrong address; verify the flash\n"},
        {Command::verify, "Verifying 524000 of 524288 bytes             \r\n",
         unasked + "the comparison proves nothing; verify again\n"},
    };
    for (const Case& c : cases) {
        const testing_support::TempFolder folder;
        FakeUnit unit;
        unit.model.flash() = std::vector<std::uint8_t>(kFlashSize, 0x5A);  // a verify sees no mismatch
        unit.stray = FakeUnit::Stray{300000, 0x5A};
        std::ostringstream console;
        std::ostringstream errors;
        EXPECT_EQ(carry_out(c.command, unit, console, errors, folder.path()), CommandOutcome::out_of_step);
        EXPECT_TRUE(console.str().ends_with(c.console_tail)) << console.str().substr(console.str().size() - 100);
        EXPECT_EQ(errors.str(), c.errors);
    }
}

/// The unit's line while another program works beside the save: `meanwhile`
/// runs before read number `at` (counted from 0).
struct LineWithWorkBeside final : Link {
    FakeUnit& unit;
    std::size_t at;
    std::function<void()> meanwhile;

    LineWithWorkBeside(FakeUnit& line, std::size_t at_read, std::function<void()> work)
        : unit(line), at(at_read), meanwhile(std::move(work)) {}
    void send(std::uint8_t byte) override { unit.send(byte); }
    int read(milliseconds timeout) override {
        if (unit.read_timeouts.size() == at && meanwhile) {
            meanwhile();
        }
        return unit.read(timeout);
    }
};

TEST(Save, ReplacesDicSavOnlyWithACompleteCleanReadBack) {
    enum class Sav { absent, earlier, read };
    struct Case {
        const char* name;
        bool earlier;
        std::optional<std::size_t> answers;
        std::optional<std::size_t> interrupt_at_read;
        bool stray;
        CommandOutcome outcome;
        Sav sav;
        std::size_t part_size;  // 0: no dic.sav.part
        std::string errors;
        bool older_part = false;    // a dic.sav.part of 3 bytes there before
        bool appears = false;       // the earlier dic.sav is put there during the transfer
        bool part_is_link = false;  // dic.sav.part is a symbolic link to "elsewhere"
    };
    constexpr std::optional<std::size_t> kNone;
    const std::string stopped = "flashprog: the read-back stopped after ";
    const std::string shifted =
        "flashprog: the unit sent 1 byte more than it was asked for: its answers were out of step, so the read-back "
        "is shifted: it is kept as dic.sav.part and never becomes dic.sav\n";
    const std::string kept = "dic.sav.part, and the earlier dic.sav is kept\n";
    const Case cases[] = {
        {"CompleteBesideAnEarlier", true, kNone, kNone, false, CommandOutcome::done, Sav::read, 0, ""},
        {"SilentWithoutAnEarlier", false, 5000, kNone, false, CommandOutcome::no_response, Sav::read, 0,
         stopped + "5000 bytes; they are in dic.sav\n"},
        {"SilentBesideAnEarlier", true, 5000, kNone, false, CommandOutcome::no_response, Sav::earlier, 5000,
         stopped + "5000 bytes; they are in " + kept},
        {"InterruptedWithoutAnEarlier", false, kNone, 3000, false, CommandOutcome::interrupted, Sav::read, 0,
         stopped + "3000 bytes; they are in dic.sav\n"},
        {"InterruptedBesideAnEarlier", true, kNone, 3000, false, CommandOutcome::interrupted, Sav::earlier, 3000,
         stopped + "3000 bytes; they are in " + kept},
        {"ShiftedWithoutAnEarlier", false, kNone, kNone, true, CommandOutcome::out_of_step, Sav::absent, kFlashSize,
         shifted},
        {"ShiftedBesideAnEarlier", true, kNone, kNone, true, CommandOutcome::out_of_step, Sav::earlier, kFlashSize,
         shifted},
        {"NoAnswerBesideAnEarlier", true, 0, kNone, false, CommandOutcome::no_response, Sav::earlier, 0, ""},
        {"InterruptedBeforeTheFirstByte", false, kNone, 0, false, CommandOutcome::interrupted, Sav::absent, 0, ""},
        {"InterruptedAfterTheLastByte", true, kNone, kFlashSize, false, CommandOutcome::interrupted, Sav::earlier,
         kFlashSize, stopped + "524288 bytes; they are in " + kept},
        {"CompleteBesideAnOlderPart", true, kNone, kNone, false, CommandOutcome::done, Sav::read, 3,
         "flashprog: dic.sav.part beside dic.sav is from an earlier read-back; it is left as it was\n", true},
        {"InterruptedAfterAnEarlierAppeared", false, kNone, 3000, false, CommandOutcome::interrupted, Sav::earlier,
         3000, stopped + "3000 bytes; they are in " + kept, false, true},
        {"InterruptedBesideALinkNamedPart", true, kNone, 3000, false, CommandOutcome::interrupted, Sav::earlier, 3000,
         stopped + "3000 bytes; they are in " + kept, false, false, true},
    };
    for (const Case& c : cases) {
        const testing_support::TempFolder folder;
        if (c.earlier) {
            folder.write("dic.sav", "an earlier read-back");
        }
        if (c.older_part) {
            folder.write("dic.sav.part", "old");
        }
        if (c.part_is_link) {
            folder.write("elsewhere", "old");
            std::error_code no_links;
            std::filesystem::create_symlink("elsewhere", folder / "dic.sav.part", no_links);
            if (no_links) {
                continue;  // a system where this user may make no links
            }
        }
        FakeUnit unit;
        unit.model.flash() = test_image();
        unit.answers_left = c.answers;
        unit.interrupt_at_read = c.interrupt_at_read;
        if (c.stray) {
            unit.stray = FakeUnit::Stray{1234, 0x00};
        }
        std::ostringstream console;
        std::ostringstream errors;
        LineWithWorkBeside line(unit, 1000, [&] {
            if (c.appears) {
                folder.write("dic.sav", "an earlier read-back");
            }
        });
        EXPECT_EQ(save_flash(line, console, errors, folder / "dic.sav"), c.outcome) << c.name;
        EXPECT_EQ(errors.str(), c.errors) << c.name;
        const std::string flash(unit.model.flash().begin(), unit.model.flash().end());
        const std::size_t read = c.answers.value_or(c.interrupt_at_read.value_or(kFlashSize));
        switch (c.sav) {
            case Sav::absent:
                EXPECT_FALSE(folder.exists("dic.sav")) << c.name;
                break;
            case Sav::earlier:
                EXPECT_EQ(folder.read("dic.sav"), "an earlier read-back") << c.name;
                break;
            case Sav::read:
                EXPECT_TRUE(folder.read("dic.sav") == flash.substr(0, read)) << c.name;
                break;
        }
        EXPECT_EQ(folder.read("dic.sav.part").size(), c.part_size) << c.name;
        if (c.part_size > 0 && !c.stray && !c.older_part) {
            EXPECT_TRUE(folder.read("dic.sav.part") == flash.substr(0, read)) << c.name;
        }
        if (c.part_is_link) {
            EXPECT_FALSE(std::filesystem::is_symlink(folder / "dic.sav.part")) << c.name;
            EXPECT_EQ(folder.read("elsewhere"), "old") << c.name << ": never written through the link";
        }
        EXPECT_EQ(folder.entry_count(),
                  (folder.exists("dic.sav") ? 1U : 0U) + (c.part_size > 0 ? 1U : 0U) + (c.part_is_link ? 1U : 0U))
            << c.name << ": no temporary file is left";
    }
}

}  // namespace
}  // namespace flashprog
