// The real flashprog executable, with COM1 and COM2 pointing into the build
// folder, typed at on a pseudo-terminal console and talking to the emulated
// unit on the far side of a second pseudo-terminal.
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>

#include "support/argument_cases.hpp"
#include "support/case_name.hpp"
#include "support/images.hpp"
#include "support/processes.hpp"
#include "support/pseudo_terminal.hpp"
#include "support/temp_folder.hpp"

namespace {

using namespace std::chrono_literals;
using testing_support::ConsoleRun;
using testing_support::PseudoTerminal;
using testing_support::run_on_console;
using testing_support::TempFolder;

constexpr std::size_t kImageSize = 524288;
const std::string kMenuPrompt = " 7) Exit program\n\n";
constexpr auto kCommandLimit = std::chrono::seconds{1200};  // a full transfer on a busy machine, with room to spare

/// Sets an environment variable, which the programs run from the test
/// inherit, for as long as it lives; unset before and after.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) { ::setenv(name, value.c_str(), 1); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;
    ~ScopedVariable() { ::unsetenv(name_); }

private:
    const char* name_;
};

/// The tests expect the ports as built, whatever the shell that runs them names.
class PortsAsBuilt final : public testing::Environment {
public:
    void SetUp() override {
        ::unsetenv("FLASHPROG_COM1");
        ::unsetenv("FLASHPROG_COM2");
    }
};
const testing::Environment* const kPortsAsBuilt = testing::AddGlobalTestEnvironment(new PortsAsBuilt);

std::string random_image() {
    std::mt19937 random(2026);
    std::string image(kImageSize, '\0');
    for (char& byte : image) {
        byte = static_cast<char>(random());
    }
    return image;
}

/// The unit emulated on `link`, its flash (holding `flash`, unless that is
/// empty) in a folder of its own.
class EmulatedUnit {
public:
    explicit EmulatedUnit(const std::string& link, const std::string& flash = {})
        : process_({UNIT_EMULATOR, link, flash_file(flash)}) {}

    /// Whether it is ready for the programs.
    bool ready() { return process_.read_line(60s) == "ready"; }
    /// Powers it down and up again, for its next command; whether it is ready.
    bool power_up() {
        process_.write("\n");
        return ready();
    }
    /// Ends it; its exit status.
    int finish() { return process_.finish(); }
    std::string flash() const { return state_.read("flash"); }

private:
    std::string flash_file(const std::string& flash) const {
        if (!flash.empty()) {
            state_.write("flash", flash);
        }
        return (state_ / "flash").string();
    }

    TempFolder state_;
    testing_support::Companion process_;
};

// The whole flash both ways, each command from the menu or the command line.
TEST(FlashprogProgram, DownloadVerifyAndSaveAgainstAnEmulatedUnit) {
    const TempFolder folder;
    const std::string image = random_image();
    folder.write("dic.uns", image);
    EmulatedUnit unit(TEST_COM1_LINK);
    ASSERT_TRUE(unit.ready());
    const auto command = [&folder](const std::vector<std::string>& args) {
        return testing_support::run_in_folder(FLASHPROG_PROGRAM, folder.path(), args);  // standard input /dev/null
    };
    const auto menu = [&folder](const char* key) {
        return run_on_console(FLASHPROG_PROGRAM, folder.path(), key, kMenuPrompt, kCommandLimit);
    };

    const testing_support::ProgramRun download = command({"--force", "download"});  // random bytes, no image
    EXPECT_EQ(download.exit_status, 0) << download.errors;
    EXPECT_TRUE(
        download.output.starts_with("\nSending the Download command...\nWaiting for acknowledge...\n"
                                    "Downloading 0 of 524288 bytes             \r"));
    EXPECT_TRUE(
        download.output.ends_with("Downloading 524000 of 524288 bytes             \r"
                                  "\nFinished programming.\nPower down the unit.\n"))
        << download.output.substr(download.output.size() - std::min<std::size_t>(200, download.output.size()));

    ASSERT_TRUE(unit.power_up());
    const ConsoleRun verify = menu("3");
    EXPECT_EQ(verify.exit_status, 0);
    EXPECT_TRUE(verify.output.ends_with("\nFinished, verified OK.\nPower down the unit."));

    ASSERT_TRUE(unit.power_up());
    const testing_support::ProgramRun save = command({"save", "out.sav"});
    EXPECT_EQ(save.exit_status, 0) << save.errors;
    EXPECT_TRUE(save.output.ends_with("\nFinished\nPower down the unit.\n"));
    EXPECT_TRUE(folder.read("out.sav") == image) << "out.sav differs from dic.uns";

    ASSERT_TRUE(unit.power_up());
    const ConsoleRun menu_save = menu("4");
    EXPECT_EQ(menu_save.exit_status, 0);
    EXPECT_TRUE(menu_save.output.ends_with("\nFinished\nPower down the unit."));
    EXPECT_TRUE(folder.read("dic.sav") == image) << "dic.sav differs from dic.uns";
    EXPECT_EQ(folder.entry_count(), 3U) << "a temporary or a .part was left";

    ASSERT_EQ(unit.finish(), 0);
    EXPECT_TRUE(unit.flash() == image) << "the emulated flash differs from dic.uns";
}

/// A device of no port of the menu, for the emulated unit to be found at.
const std::string kAdapter = std::string(TEST_COM1_LINK) + "-adapter";

struct CommandCase {
    std::string name;
    std::vector<std::string> args;
    std::string link;  // where the unit is
    int exit_status;
    std::string output;
};

class FlashprogCommands : public testing::TestWithParam<CommandCase> {};

TEST_P(FlashprogCommands, ReachTheUnitOnThePortNamed) {
    const CommandCase& c = GetParam();
    const TempFolder folder;
    folder.write("dic.uns", "");  // all zeros
    EmulatedUnit unit(c.link, std::string(kImageSize, '\x42'));
    ASSERT_TRUE(unit.ready());

    const testing_support::ProgramRun run = testing_support::run_in_folder(FLASHPROG_PROGRAM, folder.path(), c.args);

    EXPECT_EQ(run.exit_status, c.exit_status) << run.errors;
    EXPECT_EQ(run.output, c.output);
    ASSERT_EQ(unit.finish(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, FlashprogCommands,
    testing::Values(CommandCase{"EraseOnCom2",
                                {"--port", "com2", "erase"},
                                TEST_COM2_LINK,
                                0,
                                "\nSending the Erase command...\nWaiting for Erase to complete (about 64s)...\n"
                                "Erased OK\nPower down the unit.\n"},
                    CommandCase{"VerifyOnADeviceAgainstADifferentFlash",
                                {"--force", "verify", "-p" + kAdapter},
                                kAdapter,
                                3,
                                "\nSending the Verify command...\nWaiting for acknowledge...\n"
                                "\nMismatch at 0: file=0 flash =42\nPower down the unit.\n"}),
    testing_support::CaseName{});

// program on a console: each Enter typed once the unit is powered up again.
TEST(FlashprogProgram, ProgramAsksBetweenTheStages) {
    struct Case {
        const char* name;
        std::string keys;
        int exit_status;
        std::string tail;
        bool downloaded;  // else the flash is left erased
    };
    const Case cases[] = {
        {"AllHeld", "\r\r", 0, "Power down the unit.\nprogram: Erase done, Download done, Verify done\n", true},
        {"CtrlCAtTheQuestion", "\x03", 130,
         "Power down the unit.\nprogram: Erase done, Download not run (interrupted at the question), Verify not run\n",
         false},
    };
    const std::vector<std::uint8_t> bytes = testing_support::small_image();
    const std::string image(bytes.begin(), bytes.end());
    for (const Case& c : cases) {
        const TempFolder folder;
        folder.write("my.uns", image);
        EmulatedUnit unit(TEST_COM1_LINK);
        ASSERT_TRUE(unit.ready()) << c.name;
        const ConsoleRun run =
            run_on_console(FLASHPROG_PROGRAM, folder.path(), c.keys, "(Ctrl+C ends the run here): ", kCommandLimit, {},
                           {"-q", "program", "my.uns"}, [&unit] { ASSERT_TRUE(unit.power_up()); });
        EXPECT_EQ(run.exit_status, c.exit_status) << c.name << ": " << run.output << run.errors;
        EXPECT_TRUE(run.output.ends_with(c.tail)) << c.name << ": " << run.output;
        // Asked on the console itself, whatever standard output is.
        EXPECT_NE(run.shown.find("Power the unit up again, then press Enter to download (Ctrl+C ends the run here): "),
                  std::string::npos)
            << c.name << ": " << run.shown;
        EXPECT_EQ(run.output.find("Downloading"), std::string::npos) << c.name << ": -q shows no progress";
        EXPECT_TRUE(run.console_restored) << c.name;
        ASSERT_EQ(unit.finish(), 0) << c.name;
        EXPECT_TRUE(unit.flash() == (c.downloaded ? image : std::string(kImageSize, '\xff'))) << c.name;
    }
}

TEST(FlashprogProgram, SecondPortAndErase) {
    const TempFolder folder;
    folder.write("dic.uns", "");
    EmulatedUnit unit(TEST_COM2_LINK, std::string(kImageSize, '\x42'));
    ASSERT_TRUE(unit.ready());

    const ConsoleRun erase = run_on_console(FLASHPROG_PROGRAM, folder.path(), "61", kMenuPrompt, kCommandLimit);
    EXPECT_EQ(erase.exit_status, 0) << erase.output << erase.errors;
    EXPECT_NE(erase.output.find("(using COM2)"), std::string::npos);
    EXPECT_TRUE(
        erase.output.ends_with("\nSending the Erase command...\nWaiting for Erase to complete (about 64s)...\n"
                               "Erased OK\nPower down the unit."));
    ASSERT_EQ(unit.finish(), 0);
    EXPECT_TRUE(unit.flash() == std::string(kImageSize, '\xff'));
}

TEST(FlashprogProgram, DeviceNamedInTheEnvironment) {
    const TempFolder folder;
    folder.write("dic.uns", "");
    const TempFolder links;
    const std::string adapter = (links / "adapter").string();  // not where COM1 was built to be
    EmulatedUnit unit(adapter);
    ASSERT_TRUE(unit.ready());

    const ScopedVariable com1("FLASHPROG_COM1", adapter);
    const ConsoleRun erase = run_on_console(FLASHPROG_PROGRAM, folder.path(), "1", kMenuPrompt, kCommandLimit);
    EXPECT_EQ(erase.exit_status, 0) << erase.output << erase.errors;
    EXPECT_TRUE(erase.output.ends_with("Erased OK\nPower down the unit."));
    ASSERT_EQ(unit.finish(), 0);
}

TEST(FlashprogProgram, PortThatIsNotThere) {
    const TempFolder folder;
    folder.write("dic.uns", "");
    const ConsoleRun run = run_on_console(FLASHPROG_PROGRAM, folder.path(), "1", kMenuPrompt, kCommandLimit);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_TRUE(run.output.ends_with(" 7) Exit program\n\nError Opening Comm Port"));
    EXPECT_TRUE(run.errors.starts_with(std::string("\nflashprog: cannot open ") + TEST_COM1_LINK +
                                       ": No such file or directory\nflashprog: "))
        << run.errors;
    EXPECT_NE(run.errors.find(" as COM1, run FLASHPROG_COM1="), std::string::npos) << run.errors;
}

TEST(FlashprogProgram, ExitKeyEndsAtOnce) {
    const TempFolder folder;
    folder.write("dic.uns", "");
    for (const bool suspended : {false, true}) {  // stopped and resumed at the menu, it reads single keys still
        const ConsoleRun run = run_on_console(FLASHPROG_PROGRAM, folder.path(), "7", kMenuPrompt,
                                              std::chrono::seconds{30}, {0, "", suspended});
        EXPECT_EQ(run.exit_status, 0) << suspended;
        EXPECT_TRUE(run.output.ends_with(" 7) Exit program\n\nProgram closing..\n")) << suspended;
        EXPECT_TRUE(run.console_restored) << suspended;
    }
}

TEST(FlashprogProgram, ImageThatIsAFifoIsRefusedAtOnce) {
    const TempFolder folder;
    ASSERT_EQ(::mkfifo((folder / "dic.uns").c_str(), 0600), 0);  // no writer: an open would wait for one
    const ConsoleRun run = run_on_console(FLASHPROG_PROGRAM, folder.path(), "", kMenuPrompt, 30s);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.output, "Could not read file dic.uns (a FIFO, not a regular file) - exiting program.\n");
}

// Run where there is no image and no unit: a program that went ahead says
// so, and none leaves a file.
class FlashprogArguments : public testing::TestWithParam<testing_support::ArgumentCase> {};

TEST_P(FlashprogArguments, RefusedOnesTouchNothing) {
    const testing_support::ArgumentCase& c = GetParam();
    const TempFolder folder;

    const testing_support::ProgramRun run = testing_support::run_in_folder(FLASHPROG_PROGRAM, folder.path(), c.args);

    if (c.runs) {  // and stops at the missing image or port
        EXPECT_EQ(run.exit_status, 1) << run.output << run.errors;
        EXPECT_TRUE(run.output.find("Could not open file") != std::string::npos ||
                    run.errors.find("Could not open file") != std::string::npos ||
                    run.output.ends_with("Error Opening Comm Port\n"))
            << run.output << run.errors;
    } else {
        testing_support::expect_ended_at_once(run, c);
    }
    EXPECT_EQ(folder.entry_count(), 0U) << "flashprog left files behind";
}

INSTANTIATE_TEST_SUITE_P(CommandLines, FlashprogArguments,
                         testing::ValuesIn(testing_support::argument_cases("flashprog")), testing_support::CaseName{});
TEST(FlashprogProgram, SignalsLeaveTheConsoleThePortAndTheFolderAsTheyWere) {
    struct Case {
        const char* name;
        int signal;
        bool ignored_at_start;  // then SIGTERM ends the run
        bool mid_save;          // else at the menu
        int exit_status;
    };
    const Case cases[] = {
        {"TerminateAtTheMenu", SIGTERM, false, false, 143},
        {"QuitMidSave", SIGQUIT, false, true, 131},
        {"IgnoredHangUpMidSave", SIGHUP, true, true, 143},
    };
    for (const Case& c : cases) {
        const TempFolder folder;
        folder.write("dic.uns", std::string(kImageSize, '\0'));
        std::optional<EmulatedUnit> unit;
        std::optional<testing_support::Watcher> watching;
        if (c.mid_save) {
            unit.emplace(TEST_COM1_LINK);
            ASSERT_TRUE(unit->ready()) << c.name;
            watching.emplace(TEST_COM1_LINK);
        }
        const ConsoleRun run =
            run_on_console(FLASHPROG_PROGRAM, folder.path(), c.mid_save ? "4" : "", kMenuPrompt, kCommandLimit,
                           {c.signal, c.mid_save ? "Saving 1000 of" : "", false, c.ignored_at_start});
        EXPECT_EQ(run.exit_status, c.exit_status) << c.name;
        EXPECT_TRUE(run.console_restored) << c.name;
        if (!c.mid_save) {
            EXPECT_TRUE(run.output.ends_with(kMenuPrompt)) << c.name << ": " << run.output;
            continue;
        }
        EXPECT_NE(run.output.find("Interrupted: the flash is unchanged; the read-back is incomplete.\n"),
                  std::string::npos)
            << c.name;
        int exclusive = -1;
        EXPECT_EQ(::ioctl(watching->fd(), TIOCGEXCL, &exclusive), 0) << c.name;
        EXPECT_EQ(exclusive, 0) << c.name << ": the line is open to others again";
        for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
            EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos)
                << c.name << ": " << entry.path();
        }
        EXPECT_EQ(unit->finish(), 0) << c.name;
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
