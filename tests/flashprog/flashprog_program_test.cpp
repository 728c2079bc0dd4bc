// The real flashprog executable, with COM1 and COM2 pointing into the build
// folder, typed at on a pseudo-terminal console and talking to the emulated
// unit on the far side of a second pseudo-terminal.
#include <sys/ioctl.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <random>
#include <string>

#include "support/processes.hpp"
#include "support/pseudo_terminal.hpp"
#include "support/temp_folder.hpp"

namespace {

using namespace std::chrono_literals;
using testing_support::Companion;
using testing_support::ConsoleRun;
using testing_support::PseudoTerminal;
using testing_support::run_on_console;
using testing_support::TempFolder;

constexpr std::size_t kImageSize = 524288;
const std::string kMenuPrompt = " 7) Exit program\n\n";
constexpr auto kCommandLimit = std::chrono::seconds{600};  // a full transfer, with room to spare

std::string random_image() {
    std::mt19937 random(2026);
    std::string image(kImageSize, '\0');
    for (char& byte : image) {
        byte = static_cast<char>(random());
    }
    return image;
}

TEST(FlashprogProgram, DownloadVerifyAndSaveAgainstAnEmulatedUnit) {
    const TempFolder folder;
    const std::string image = random_image();
    folder.write("dic.uns", image);
    const TempFolder unit_state;
    Companion unit({UNIT_EMULATOR, TEST_COM1_LINK, (unit_state / "flash").string()});
    ASSERT_EQ(unit.read_line(10s), "ready");

    const ConsoleRun download = run_on_console(FLASHPROG_PROGRAM, folder.path(), "2", kMenuPrompt, kCommandLimit);
    EXPECT_EQ(download.exit_status, 0) << download.output << download.errors;
    EXPECT_TRUE(
        download.output.ends_with("Downloading 524000 of 524288 bytes             \r"
                                  "\nFinished programming.\nPower down the unit."))
        << download.output.substr(download.output.size() - std::min<std::size_t>(200, download.output.size()));

    const ConsoleRun verify = run_on_console(FLASHPROG_PROGRAM, folder.path(), "3", kMenuPrompt, kCommandLimit);
    EXPECT_EQ(verify.exit_status, 0);
    EXPECT_TRUE(verify.output.ends_with("\nFinished, verified OK.\nPower down the unit."));

    const ConsoleRun save = run_on_console(FLASHPROG_PROGRAM, folder.path(), "4", kMenuPrompt, kCommandLimit);
    EXPECT_EQ(save.exit_status, 0);
    EXPECT_TRUE(save.output.ends_with("\nFinished\nPower down the unit."));
    EXPECT_TRUE(folder.read("dic.sav") == image) << "dic.sav differs from dic.uns";

    ASSERT_EQ(unit.finish(), 0);
    EXPECT_TRUE(unit_state.read("flash") == image) << "the emulated flash differs from dic.uns";
}

TEST(FlashprogProgram, SecondPortAndErase) {
    const TempFolder folder;
    folder.write("dic.uns", "");
    const TempFolder unit_state;
    unit_state.write("flash", std::string(kImageSize, '\x42'));
    Companion unit({UNIT_EMULATOR, TEST_COM2_LINK, (unit_state / "flash").string()});
    ASSERT_EQ(unit.read_line(10s), "ready");

    const ConsoleRun erase = run_on_console(FLASHPROG_PROGRAM, folder.path(), "61", kMenuPrompt, kCommandLimit);
    EXPECT_EQ(erase.exit_status, 0) << erase.output << erase.errors;
    EXPECT_NE(erase.output.find("(using COM2)"), std::string::npos);
    EXPECT_TRUE(
        erase.output.ends_with("\nSending the Erase command...\nWaiting for Erase to complete (about 64s)...\n"
                               "Erased OK\nPower down the unit."));
    ASSERT_EQ(unit.finish(), 0);
    EXPECT_TRUE(unit_state.read("flash") == std::string(kImageSize, '\xff'));
}

TEST(FlashprogProgram, PortThatIsNotThere) {
    const TempFolder folder;
    folder.write("dic.uns", "");
    const ConsoleRun run = run_on_console(FLASHPROG_PROGRAM, folder.path(), "1", kMenuPrompt, kCommandLimit);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_TRUE(run.output.ends_with(" 7) Exit program\n\nError Opening Comm Port"));
    EXPECT_EQ(run.errors, std::string("flashprog: cannot open ") + TEST_COM1_LINK + ": No such file or directory\n");
}

TEST(FlashprogProgram, ExitKeyEndsAtOnce) {
    const TempFolder folder;
    folder.write("dic.uns", "");
    const ConsoleRun run = run_on_console(FLASHPROG_PROGRAM, folder.path(), "7", kMenuPrompt, kCommandLimit);
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_TRUE(run.output.ends_with(" 7) Exit program\n\nProgram closing..\n"));
}

TEST(FlashprogProgram, TerminateOrHangUpAtTheMenuRestoresTheConsole) {
    const TempFolder folder;
    folder.write("dic.uns", std::string(kImageSize, '\0'));
    for (const int signal : {SIGTERM, SIGHUP}) {
        const ConsoleRun run =
            run_on_console(FLASHPROG_PROGRAM, folder.path(), "", kMenuPrompt, kCommandLimit, {signal, ""});
        EXPECT_EQ(run.exit_status, 128 + signal);
        EXPECT_TRUE(run.console_restored) << signal;
        EXPECT_TRUE(run.output.ends_with(kMenuPrompt)) << run.output;
    }
}

TEST(FlashprogProgram, InterruptedEraseGivesThePortBack) {
    const TempFolder folder;
    folder.write("dic.uns", "");
    const PseudoTerminal line;  // no unit answers on it
    std::filesystem::create_directories(std::filesystem::path(TEST_COM1_LINK).parent_path());
    std::filesystem::remove(TEST_COM1_LINK);
    std::filesystem::create_symlink(line.far_path(), TEST_COM1_LINK);
    const testing_support::Watcher watching(line.far_path());
    const int watcher = watching.fd();
    ASSERT_GE(watcher, 0);
    termios before{};
    ::tcgetattr(watcher, &before);

    const ConsoleRun run = run_on_console(FLASHPROG_PROGRAM, folder.path(), "1", kMenuPrompt, kCommandLimit,
                                          {SIGINT, "Waiting for Erase to complete"});
    EXPECT_EQ(run.exit_status, 130) << run.output << run.errors;
    EXPECT_TRUE(
        run.output.ends_with("(about 64s)...\nInterrupted: the erase may be incomplete; erase again.\n"
                             "Power down the unit."))
        << run.output;
    EXPECT_EQ(line.read(std::chrono::milliseconds{0}), std::optional<std::uint8_t>('E'));
    int exclusive = -1;
    EXPECT_EQ(::ioctl(watcher, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "the line is open to others again";
    termios after{};
    ::tcgetattr(watcher, &after);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before));
    std::filesystem::remove(TEST_COM1_LINK);
}

}  // namespace
