#include "programmer.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "image_verdict.hpp"
#include "port_names.hpp"
#include "prom_image.hpp"
#include "shell_words.hpp"
#include "support/fake_unit.hpp"
#include "support/images.hpp"
#include "support/link_to.hpp"
#include "support/temp_folder.hpp"
#include "unit_protocol.hpp"
#include "without_progress.hpp"

namespace flashprog {
namespace {

using testing_support::FakeUnit;
using testing_support::kSeparator;
using testing_support::LinkTo;
using testing_support::TempFolder;

std::string menu(int com) {
    return "\n\nQVR Crossword Solver flash programmer\n"
           "=====================================\n\n"
           "Select an option: (using COM" +
           std::to_string(com) +
           ")\n"
           " 1) Erase Flash\n"
           " 2) Download dictionary to Flash\n"
           " 3) Verify Flash contents\n"
           " 4) Save Flash contents\n"
           " 5) Use COM1\n"
           " 6) Use COM2\n"
           " 7) Exit program\n\n";
}

/// Keys pressed in turn; once they are used up, no console, or a signal
/// that comes while the menu waits. Notes how many bytes the unit had been
/// sent at each discard, and what the console showed when single-key mode
/// began and ended.
class ScriptedKeys final : public KeySource {
public:
    ScriptedKeys(std::string keys, dicttools::ManualStop& stop, int signal_when_done,
                 const std::vector<std::uint8_t>& sent, const std::ostringstream& console)
        : keys_(std::move(keys)), stop_(stop), signal_when_done_(signal_when_done), sent_(sent), console_(console) {}
    void enter_single_key_mode() override { shown_at_modes_.push_back(console_.str().size()); }
    void leave_single_key_mode() override { shown_at_modes_.push_back(console_.str().size()); }
    std::uint8_t read_key() override {
        if (next_ == keys_.size() && signal_when_done_ != 0) {
            stop_.request(signal_when_done_);
        }
        reads_in_mode_ += shown_at_modes_.size() % 2;
        no_console_ = next_ == keys_.size() && signal_when_done_ == 0;
        return next_ < keys_.size() ? static_cast<std::uint8_t>(keys_[next_++]) : kEndOfInput;
    }
    bool no_console() const override { return no_console_; }
    void discard_typed_ahead() override {
        discarded_ += keys_.substr(next_);
        next_ = keys_.size();
        sent_at_discards_.push_back(sent_.size());
    }
    bool console_present() override { return true; }
    bool wait_for_enter(std::string_view /*question*/) override { return false; }
    const std::string& discarded() const { return discarded_; }
    const std::vector<std::size_t>& sent_at_discards() const { return sent_at_discards_; }
    /// How much the console showed when single-key mode began, and when it ended.
    const std::vector<std::size_t>& shown_at_modes() const { return shown_at_modes_; }
    std::size_t reads_in_mode() const { return reads_in_mode_; }

private:
    std::string keys_;
    dicttools::ManualStop& stop_;
    int signal_when_done_;
    const std::vector<std::uint8_t>& sent_;
    const std::ostringstream& console_;
    std::size_t next_ = 0;
    bool no_console_ = false;
    std::string discarded_;
    std::vector<std::size_t> sent_at_discards_;
    std::vector<std::size_t> shown_at_modes_;
    std::size_t reads_in_mode_ = 0;
};

/// The user at program's questions: each key of `answers` ends one
/// question, Enter once the unit is powered up again, or Ctrl+C. Before
/// each question an Enter pressed during the stage before waits to be read
/// (unless it is discarded), without a power-up.
class PowerCycles final : public KeySource {
public:
    PowerCycles(std::string answers, FakeUnit& unit) : answers_(std::move(answers)), unit_(unit) {}
    bool console = true;
    /// The bytes the unit had been sent at each question, and the question.
    std::vector<std::size_t> sent_at_questions;
    std::vector<std::string> questions;
    /// Called at each power-up, counted from 1.
    std::function<void(int)> on_power_up;

    void enter_single_key_mode() override {}
    void leave_single_key_mode() override {}
    std::uint8_t read_key() override { return kEndOfInput; }
    bool no_console() const override { return false; }
    void discard_typed_ahead() override { typed_ahead_ = false; }
    bool console_present() override { return console; }
    bool wait_for_enter(std::string_view question) override {
        sent_at_questions.push_back(unit_.sent.size());
        questions.emplace_back(question);
        if (std::exchange(typed_ahead_, true)) {
            return true;  // the early Enter answers: the unit was not powered up
        }
        if (next_ == answers_.size() || answers_[next_] == '\x03') {
            unit_.stop.request(SIGINT);
            return false;
        }
        ++next_;
        unit_.model.power_up();
        if (on_power_up) {
            on_power_up(static_cast<int>(next_));
        }
        return true;
    }

private:
    std::string answers_;
    FakeUnit& unit_;
    std::size_t next_ = 0;
    bool typed_ahead_ = true;
};

/// One run of the programmer against a fake unit in a scratch folder.
struct Session {
    TempFolder folder;
    FakeUnit unit;
    std::vector<int> opened_ports;
    bool port_fails = false;
    int signal_at_menu = 0;  // a signal once the keys are used up
    std::string out;
    std::string errors;
    Platform platform;
    std::string discarded_keys;
    std::vector<std::size_t> sent_at_discards;
    std::vector<std::size_t> shown_at_modes;
    std::size_t reads_in_mode = 0;

    /// Whether the console was cleared after the menu and again once the
    /// command was over, so that nothing typed meanwhile reaches the shell.
    bool console_cleared_after_the_command() const {
        return sent_at_discards.size() == 2 && sent_at_discards.front() == 0 &&
               sent_at_discards.back() == unit.sent.size();
    }

    Session() {
        folder.write("dic.uns", std::string(kFlashSize, 'x'));
        platform.clock = [this] { return std::chrono::steady_clock::time_point(unit.waited); };
    }

    LinkOpener opener() {
        return [this](int port_index) -> std::unique_ptr<Link> {
            opened_ports.push_back(port_index);
            if (port_fails) {
                throw LinkError("cannot open /dev/ttyS9: the port is in use by another program");
            }
            return std::make_unique<LinkTo>(unit);
        };
    }

    ExitStatus run(const std::string& keys) {
        std::ostringstream out_stream;
        std::ostringstream error_stream;
        ScriptedKeys scripted(keys, unit.stop, signal_at_menu, unit.sent, out_stream);
        const ExitStatus status =
            run_programmer({out_stream, error_stream}, scripted, opener(), folder.path(), unit.stop, platform);
        discarded_keys = scripted.discarded();
        sent_at_discards = scripted.sent_at_discards();
        shown_at_modes = scripted.shown_at_modes();
        reads_in_mode = scripted.reads_in_mode();
        out = out_stream.str();
        errors = error_stream.str();
        return status;
    }

    /// The same, with `command` and `file` (in the folder) named on the command line.
    ExitStatus run(Command command, const std::string& file, ImageCheck check = ImageCheck::judged) {
        std::ostringstream out_stream;
        std::ostringstream error_stream;
        const ExitStatus status =
            run_command({out_stream, error_stream}, command, folder / file, 1, opener(), unit.stop, platform, check);
        out = out_stream.str();
        errors = error_stream.str();
        return status;
    }

    /// program with the image in `file`, the user answering as `user` does.
    ExitStatus run_program(PowerCycles& user, const std::string& file) {
        std::ostringstream out_stream;
        std::ostringstream error_stream;
        const ExitStatus status =
            flashprog::run_program({out_stream, error_stream}, user, folder / file, 0, opener(), unit.stop, platform);
        out = out_stream.str();
        errors = error_stream.str();
        return status;
    }
};

TEST(Programmer, PortKeysSwitchAndShowTheMenuAgain) {
    Session session;
    session.unit.answers_left = 0;
    EXPECT_EQ(session.run("65622222"), ExitStatus::no_response);
    EXPECT_EQ(session.opened_ports, std::vector<int>{1});
    EXPECT_EQ(session.out.substr(0, 4 * menu(1).size()), menu(1) + menu(2) + menu(1) + menu(2));
    EXPECT_EQ(session.discarded_keys, "2222") << "typed ahead of the command key";
    EXPECT_EQ(session.shown_at_modes, (std::vector<std::size_t>{0, 4 * menu(1).size()}))
        << "single-key mode from before the first menu until the last key";
    EXPECT_EQ(session.reads_in_mode, 4U);
}

TEST(Programmer, ExitKeyOpensNoPort) {
    Session session;
    EXPECT_EQ(session.run("7"), ExitStatus::done);
    EXPECT_EQ(session.out, menu(1) + "Program closing..\n");
    EXPECT_TRUE(session.opened_ports.empty());
}

TEST(Programmer, KeysWithoutACommandOpenAndDrainButSendNothing) {
    const std::string keys[] = {"9", "x", std::string(1, '\0'), "\xe0", "\x1b", ""};  // "" is end of input
    for (const std::string& key : keys) {
        Session session;
        session.unit.chatter = {1, 2, 3};
        EXPECT_EQ(session.run(key), ExitStatus::done);
        EXPECT_EQ(session.out, menu(1) + "\nPower down the unit.");
        EXPECT_EQ(session.opened_ports, std::vector<int>{0});
        EXPECT_TRUE(session.unit.chatter.empty()) << "drained";
        EXPECT_TRUE(session.unit.sent.empty());
        EXPECT_EQ(session.errors, key.empty() ? "flashprog: no key could be read (there is no console), so no command "
                                                "is sent to the unit; in a script, name it: "
                                                "flashprog erase|download|verify|save|program\n"
                                              : "");
    }
}

TEST(Programmer, MissingImageEndsBeforeTheMenu) {
    Session session;
    std::filesystem::remove(session.folder / "dic.uns");
    EXPECT_EQ(session.run("2"), ExitStatus::cannot_start);
    EXPECT_EQ(session.out, "Could not open file dic.uns - exiting program.\n");
    EXPECT_TRUE(session.opened_ports.empty());
}

TEST(Programmer, UnreadableImageEndsBeforeTheMenu) {
    Session session;
    std::filesystem::remove(session.folder / "dic.uns");
    std::filesystem::create_directory(session.folder / "dic.uns");
    EXPECT_EQ(session.run("2"), ExitStatus::cannot_start);
    EXPECT_EQ(session.out, "Could not read file dic.uns (Is a directory) - exiting program.\n");
}

TEST(Programmer, CommandLineLoadsOnlyTheImageItNeeds) {
    struct Case {
        const char* name;
        Command command;
        const char* file;
        ExitStatus status;
        std::string out;     // how it ends
        std::string errors;  // a part of them
        ImageCheck check = ImageCheck::judged;
    };
    const Case cases[] = {
        {"MissingImage", Command::verify, "missing.uns", ExitStatus::cannot_start, "",
         "missing.uns - exiting program.\n"},
        {"ShortImage", Command::download, "short.uns", ExitStatus::cannot_start, "",
         kSeparator + "short.uns is not a dictionary image: it has 3 bytes, not 524288\n"},
        {"ShortImageForced", Command::download, "short.uns", ExitStatus::done,
         "\nFinished programming.\nPower down the unit.\n",
         "short.uns has 3 bytes, fewer than 524288: ", ImageCheck::forced},
        {"EraseWithoutImage", Command::erase, "", ExitStatus::done, "Erased OK\nPower down the unit.\n", ""},
        {"SaveWithoutImage", Command::save, "out.sav", ExitStatus::done, "\nFinished\nPower down the unit.\n", ""},
        // Named with its folder, as given, not by its last part alone.
        {"SaveIntoAMissingFolder", Command::save, "none/out.sav", ExitStatus::save_failed,
         "none/out.sav: No such file or directory\nPower down the unit.\n", ""},
    };
    for (const Case& c : cases) {
        Session session;
        std::filesystem::remove(session.folder / "dic.uns");
        session.folder.write("short.uns", "abc");
        EXPECT_EQ(session.run(c.command, c.file, c.check), c.status) << c.name;
        EXPECT_TRUE(session.out.ends_with(c.out)) << c.name << ": " << session.out;
        EXPECT_NE(session.errors.find(c.errors), std::string::npos) << c.name << ": " << session.errors;
        EXPECT_EQ(session.opened_ports, c.status == ExitStatus::cannot_start ? std::vector<int>{} : std::vector<int>{1})
            << c.name;
    }
}

TEST(Programmer, PortThatCannotBeOpened) {
    Session session;
    session.port_fails = true;
    EXPECT_EQ(session.run("1"), ExitStatus::cannot_start);
    EXPECT_EQ(session.out, menu(1) + "Error Opening Comm Port");
    EXPECT_EQ(session.errors, "\nflashprog: cannot open /dev/ttyS9: the port is in use by another program\n");
    EXPECT_TRUE(session.console_cleared_after_the_command());

    Session advised;
    advised.port_fails = true;
    advised.platform.other_devices = [](int port_index) { return "devices for COM" + std::to_string(port_index + 1); };
    EXPECT_EQ(advised.run("62"), ExitStatus::cannot_start);
    EXPECT_EQ(advised.errors,
              "\nflashprog: cannot open /dev/ttyS9: the port is in use by another program\ndevices for COM2");

    Session command_line;  // whose dialogue ends its line: the reason needs no line end of its own
    command_line.port_fails = true;
    EXPECT_EQ(command_line.run(Command::erase, ""), ExitStatus::cannot_start);
    EXPECT_EQ(command_line.out, "Error Opening Comm Port\n");
    EXPECT_EQ(command_line.errors, "flashprog: cannot open /dev/ttyS9: the port is in use by another program\n");
}

TEST(Programmer, PortNamesFromTheEnvironment) {
    struct Case {
        std::optional<std::string_view> configured;
        PortNaming naming;
        std::string_view device;
    };
    const Case cases[] = {
        {std::nullopt, PortNaming::posix, "/dev/ttyS0"},
        {"", PortNaming::posix, "/dev/ttyS0"},
        {"/dev/ttyUSB0", PortNaming::posix, "/dev/ttyUSB0"},
        {"COM7", PortNaming::posix, "COM7"},
        {std::nullopt, PortNaming::windows, "/dev/ttyS0"},
        {"", PortNaming::windows, "/dev/ttyS0"},
        {"COM7", PortNaming::windows, R"(\\.\COM7)"},
        {"com7", PortNaming::windows, R"(\\.\COM7)"},
        {R"(\\.\COM12)", PortNaming::windows, R"(\\.\COM12)"},
        {"COM", PortNaming::windows, "COM"},
        {"COM7:", PortNaming::windows, "COM7:"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(resolve_port_name(c.configured, "/dev/ttyS0", c.naming), c.device)
            << c.configured.value_or("(unset)") << (c.naming == PortNaming::windows ? " on Windows" : " on POSIX");
    }
    EXPECT_EQ(resolve_port_name("COM3", R"(\\.\COM1)", PortNaming::windows), R"(\\.\COM3)");
    EXPECT_EQ(resolve_port_name(std::nullopt, "COM2", PortNaming::windows), R"(\\.\COM2)");
    for (const auto& [name, index] :
         std::vector<std::pair<std::string_view, std::optional<int>>>{{"COM1", 0},
                                                                      {"com2", 1},
                                                                      {"COM3", std::nullopt},
                                                                      {"COM12", std::nullopt},
                                                                      {"COM", std::nullopt},
                                                                      {"/dev/ttyS1", std::nullopt},
                                                                      {R"(\\.\COM1)", std::nullopt}}) {
        EXPECT_EQ(menu_port_index(name), index) << name;
    }
    // A Windows port name on POSIX, where no such file is there.
    struct Foreign {
        const char* name;
        PortNaming naming;
        bool exists;
        bool refused;
    };
    for (const Foreign& c :
         {Foreign{"COM3", PortNaming::posix, false, true}, Foreign{"cOm256", PortNaming::posix, false, true},
          Foreign{"COM3", PortNaming::posix, true, false}, Foreign{"COM3", PortNaming::windows, false, false}}) {
        const auto refusal = foreign_port_name(c.name, c.naming, c.exists);
        EXPECT_EQ(refusal.has_value(), c.refused) << c.name;
        if (refusal) {
            EXPECT_EQ(*refusal, std::string(c.name) +
                                    " is no port here: COM1 and COM2 are the two configured ports (FLASHPROG_COM1 "
                                    "and FLASHPROG_COM2 name their devices), and any other port is named by its "
                                    "device path");
        }
    }
}

TEST(Programmer, AdviceOnOtherDevices) {
    struct Case {
        const char* name;
        std::vector<SerialDevice> devices;
        int port_index;
        PortNaming naming;
        std::string advice;
        std::string_view command = {};
    };
    const Case cases[] = {
        {"NonePosix",
         {},
         0,
         PortNaming::posix,
         "flashprog: no serial device was found on this machine\n"
         "flashprog: to use another device as COM1, run FLASHPROG_COM1=/dev/ttyUSB0 flashprog\n"},
        {"NoneWindows",
         {},
         1,
         PortNaming::windows,
         "flashprog: no serial device was found on this machine\n"
         "flashprog: to use another device as COM2, run set FLASHPROG_COM2=COM7 then flashprog\n"},
        {"Posix",
         {{"/dev/serial/by-id/usb-adapter-port0", "/dev/ttyUSB0"}, {"/dev/ttyUSB0", ""}},
         0,
         PortNaming::posix,
         "flashprog: serial devices on this machine:\n"
         "flashprog:   /dev/serial/by-id/usb-adapter-port0 (/dev/ttyUSB0)\n"
         "flashprog:   /dev/ttyUSB0\n"
         "flashprog: to use one as COM1, run FLASHPROG_COM1=/dev/serial/by-id/usb-adapter-port0 flashprog\n"},
        {"Windows",
         {{"COM3", R"(\Device\VCP0)"}},
         1,
         PortNaming::windows,
         "flashprog: serial devices on this machine:\n"
         "flashprog:   COM3 (\\Device\\VCP0)\n"
         "flashprog: to use one as COM2, run set FLASHPROG_COM2=COM3 then flashprog\n"},
        {"CommandLine",
         {},
         0,
         PortNaming::posix,
         "flashprog: no serial device was found on this machine\n"
         "flashprog: to use another device, run flashprog -p /dev/ttyUSB0 erase\n",
         "erase"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(other_devices_advice(c.devices, c.port_index, c.naming, c.command), c.advice) << c.name;
    }
    // The advice's commands come back as the shell takes them: a file
    // named with the command, and a device from the machine's list.
    struct Word {
        const char* given;
        dicttools::Shell shell;
        const char* shown;
    };
    const Word words[] = {
        {"dic.uns", dicttools::Shell::posix, "dic.uns"},
        {"my image's.uns", dicttools::Shell::posix, R"('my image'\''s.uns')"},
        {R"(C:\images\a b.uns)", dicttools::Shell::windows, R"("C:\images\a b.uns")"},
        {"a\x01\\b", dicttools::Shell::posix, R"($'a\x01\\b')"},
        {"\xC3\xBCn\xC3\xAF's.sav", dicttools::Shell::posix, R"($'\xC3\xBCn\xC3\xAF\'s.sav')"},
        {"a\tb\n", dicttools::Shell::posix, R"($'a\x09b\x0A')"},
        {"-x.sav", dicttools::Shell::posix, "-- -x.sav"},
    };
    for (const Word& word : words) {
        EXPECT_EQ(dicttools::shell_operand(word.given, word.shell), word.shown) << word.given;
    }
    EXPECT_EQ(
        other_devices_advice({{"/dev/serial/by-id/usb-a b\x1b[31m", "/dev/tty\nUSB0"}}, 0, PortNaming::posix, "erase"),
        "flashprog: serial devices on this machine:\n"
        "flashprog:   /dev/serial/by-id/usb-a b\\x1B[31m (/dev/tty\\x0AUSB0)\n"
        "flashprog: to use one, run flashprog -p $'/dev/serial/by-id/usb-a b\\x1B[31m' erase\n");
    const std::vector<SerialDevice> many(10, SerialDevice{"/dev/ttyS4", ""});
    EXPECT_NE(other_devices_advice(many, 0, PortNaming::posix).find("flashprog:   and 2 more\n"), std::string::npos);
}

TEST(Programmer, SlowRoundTripsAreExplainedOnce) {
    struct Case {
        const char* name;
        char key;
        std::chrono::milliseconds delay;
        std::optional<std::size_t> answers;
        const char* hint;  // the figures in it; none when no hint is due
        const char* total;
    };
    const Case cases[] = {
        {"Instant", '2', std::chrono::milliseconds{0}, std::nullopt, nullptr,
         "took 0.0 s for 524289 round trips, 0.000 ms each"},
        {"AtTheLimit", '3', std::chrono::milliseconds{4}, std::nullopt, nullptr,
         "took 34 min 57 s for 524288 round trips, 4.000 ms each"},
        {"Slow", '4', std::chrono::milliseconds{5}, std::nullopt,
         "takes 5.0 ms: the whole transfer of 524288 bytes will take about 43 min 41 s", "5.000 ms each"},
        {"LatencyTimer", '2', std::chrono::milliseconds{16}, std::nullopt,
         "takes 16.0 ms: the whole transfer of 524288 bytes will take about 2 h 20 min",
         "took 2 h 20 min for 524289 round trips, 16.000 ms each"},
        {"CutBeforeTheMedian", '2', std::chrono::milliseconds{16}, 999, nullptr,
         "took 16.0 s for 999 round trips, 16.000 ms each"},
        {"Unanswered", '2', std::chrono::milliseconds{16}, 0, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        Session session;
        session.unit.model.reply_delay = c.delay;
        session.unit.model.flash() = std::vector<std::uint8_t>(kFlashSize, 'x');
        session.unit.answers_left = c.answers;
        session.platform.latency_advice = [](int port_index) {
            return "advice for COM" + std::to_string(port_index + 1) + "\n";
        };
        session.run(std::string(1, c.key));
        const std::size_t hint = session.errors.find("flashprog: each round trip to the unit ");
        if (c.hint) {
            EXPECT_NE(session.errors.find(c.hint), std::string::npos) << c.name << ": " << session.errors;
            EXPECT_NE(session.errors.find("latency timer"), std::string::npos) << c.name;
            EXPECT_NE(session.errors.find("advice for COM1\n"), std::string::npos) << c.name;
            EXPECT_EQ(session.errors.find("flashprog: each round trip", hint + 1), std::string::npos) << c.name;
        } else {
            EXPECT_EQ(hint, std::string::npos) << c.name << ": " << session.errors;
        }
        if (c.total) {
            EXPECT_NE(session.errors.find(c.total), std::string::npos) << c.name << ": " << session.errors;
            EXPECT_TRUE(session.errors.ends_with(" ms each\n")) << c.name;
        } else {
            EXPECT_EQ(session.errors, "") << c.name;
        }
        EXPECT_EQ(session.out.find("flashprog"), std::string::npos) << c.name;
    }
}

TEST(Programmer, ImageOfAnotherSizeIsSaidBeforeTheMenu) {
    struct Case {
        std::size_t size;
        std::string line;
    };
    const std::string shorter =
        "dic.uns has 0 bytes, fewer than 524288: the rest is programmed and verified as zeros.\n";
    const std::string longer = "dic.uns has 525288 bytes: the bytes after the first 524288 are ignored.\n";
    for (const Case& c : {Case{0, shorter}, Case{kFlashSize + 1000, longer}, Case{kFlashSize, ""}}) {
        Session session;
        session.folder.write("dic.uns", std::string(c.size, 'x'));
        EXPECT_EQ(session.run("7"), ExitStatus::done);
        EXPECT_EQ(session.out, c.line + menu(1) + "Program closing..\n");
    }
}

TEST(Programmer, ShortImageIsPaddedWithZeros) {
    Session session;
    session.folder.write("dic.uns", std::string(1000, '\x5a'));
    EXPECT_EQ(session.run("2"), ExitStatus::done);
    std::vector<std::uint8_t> expected(kFlashSize, 0);
    std::fill_n(expected.begin(), 1000, 0x5a);
    EXPECT_EQ(session.unit.model.flash(), expected);

    Session verify;
    verify.folder.write("dic.uns", std::string(1000, '\x5a'));
    verify.unit.model.flash() = expected;
    EXPECT_EQ(verify.run("3"), ExitStatus::done);
    EXPECT_NE(verify.out.find("\nFinished, verified OK.\nPower down the unit."), std::string::npos);
}

TEST(Programmer, ExitStatusSaysHowTheCommandEnded) {
    struct Case {
        const char* name;
        char key;
        std::optional<std::size_t> answers;
        bool flash_differs;
        bool sav_in_the_way;
        ExitStatus status;
        bool stray = false;
        bool keeps_sending = false;  // a byte every 2 ms after the last answer
        std::size_t chatter = 0;     // bytes the line sends from the start, 2 ms apart
    };
    const Case cases[] = {
        {"EraseDone", '1', std::nullopt, false, false, ExitStatus::done},
        {"EraseUnanswered", '1', 0, false, false, ExitStatus::no_response},
        {"DownloadCut", '2', 100, false, false, ExitStatus::no_response},
        {"VerifyMismatch", '3', std::nullopt, true, false, ExitStatus::verify_mismatch},
        {"SaveDone", '4', std::nullopt, false, false, ExitStatus::done},
        {"SaveUnwritable", '4', std::nullopt, false, true, ExitStatus::save_failed},
        {"DownloadOutOfStep", '2', std::nullopt, false, false, ExitStatus::out_of_step, true},
        {"SaveKeepsSendingAfterTheLastAnswer", '4', std::nullopt, false, false, ExitStatus::out_of_step, false, true},
        {"LineKeepsSendingFromTheStart", '1', std::nullopt, false, false, ExitStatus::out_of_step, false, false, 5000},
    };
    for (const Case& c : cases) {
        Session session;
        session.unit.answers_left = c.answers;
        session.unit.model.flash() = std::vector<std::uint8_t>(kFlashSize, c.flash_differs ? 'y' : 'x');
        if (c.stray) {
            session.unit.stray = FakeUnit::Stray{10, 0x06};
        }
        if (c.sav_in_the_way) {
            std::filesystem::create_directory(session.folder / "dic.sav");
        }
        if (c.keeps_sending) {
            session.unit.keeps_sending_every = std::chrono::milliseconds{2};
        }
        if (c.chatter > 0) {
            session.unit.chatter.assign(c.chatter, 0x00);
            session.platform.clock = [&session] {
                return std::chrono::steady_clock::time_point(std::chrono::milliseconds{2} *
                                                             session.unit.read_timeouts.size());
            };
        }
        EXPECT_EQ(session.run(std::string(1, c.key)), c.status) << c.name;
        EXPECT_TRUE(c.chatter == 0 ||
                    (session.unit.sent.empty() &&
                     session.errors == "flashprog: the line keeps sending: bytes still came after 2 s of draining "
                                       "(1000 in all), so nothing was sent to the unit; is it connected and "
                                       "powered up?\n"))
            << c.name << ": " << session.errors;
        EXPECT_TRUE(!c.keeps_sending || session.errors.find("the unit sent 500 bytes more") != std::string::npos)
            << c.name << ": one second after the last answer: " << session.errors;
        EXPECT_TRUE(session.out.ends_with("Power down the unit.")) << c.name;
        EXPECT_TRUE(session.console_cleared_after_the_command()) << c.name;
    }
}

TEST(Programmer, SignalEndsTheRunAtEachStage) {
    struct Case {
        const char* name;
        char key;
        int signal_at_menu;
        std::optional<std::size_t> interrupt_at_read;  // read 0 is the drain's
        std::string out_tail;
    };
    const Case cases[] = {
        {"Menu", '\0', SIGTERM, {}, menu(1)},
        {"Drain", '4', 0, 0,
         "\nInterrupted before the command was sent: the flash is unchanged.\nPower down the unit."},
        {"Download", '2', 0, 101,
         "Interrupted: the flash is partly programmed; erase and download again.\nPower down the unit."},
    };
    for (const Case& c : cases) {
        Session session;
        session.signal_at_menu = c.signal_at_menu;
        session.unit.interrupt_at_read = c.interrupt_at_read;
        EXPECT_EQ(session.run(c.key == '\0' ? "" : std::string(1, c.key)), ExitStatus::interrupted) << c.name;
        EXPECT_TRUE(session.out.ends_with(c.out_tail)) << c.name << ": " << session.out;
        EXPECT_EQ(session.opened_ports.size(), c.signal_at_menu != 0 ? 0U : 1U) << c.name;
        EXPECT_TRUE(c.signal_at_menu != 0 || session.console_cleared_after_the_command()) << c.name;
        EXPECT_EQ(session.folder.entry_count(), 1U) << c.name << ": only dic.uns";
    }
}

std::string as_text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

TEST(Programmer, ProgramRunsTheStagesInTurnUntilOneFails) {
    struct Case {
        const char* name;
        std::string answers;  // at the questions
        ExitStatus status;
        std::string summary;
        std::size_t questions;  // asked
        std::optional<std::size_t> answers_left = std::nullopt;
        std::optional<FakeUnit::Stray> stray = std::nullopt;
        int flash_changed_at_power_up = 0;  // a byte of the flash changes then
        bool console = true;
        std::size_t chatter = 0;  // bytes the line sends before the first command
    };
    constexpr std::size_t kDownloadEnd = 2 + kFlashSize;  // "E", "P" and the image
    const Case cases[] = {
        {"AllHeld", "\r\r", ExitStatus::done, "program: Erase done, Download done, Verify done\n", 2},
        {"EraseUnanswered", "", ExitStatus::no_response,
         "program: Erase failed (no response from the unit), Download not run, Verify not run\n", 0, 0},
        {"DownloadOutOfStep", "\r", ExitStatus::out_of_step,
         "program: Erase done, Download failed (out of step), Verify not run\n", 1, std::nullopt,
         FakeUnit::Stray{1000, 0x06}},
        {"VerifyMismatch", "\r\r", ExitStatus::verify_mismatch,
         "program: Erase done, Download done, Verify failed (mismatch)\n", 2, std::nullopt, std::nullopt, 2},
        {"CtrlCAtTheFirstQuestion", "\x03", ExitStatus::interrupted,
         "program: Erase done, Download not run (interrupted at the question), Verify not run\n", 1},
        {"NoConsole", "", ExitStatus::wrong_arguments, "", 0, std::nullopt, std::nullopt, 0, false},
        {"LineKeepsSending", "", ExitStatus::out_of_step,
         "program: Erase not sent (the line keeps sending), Download not run, Verify not run\n", 0, std::nullopt,
         std::nullopt, 0, true, 1000},
    };
    for (const Case& c : cases) {
        Session session;
        session.folder.write("dic.uns", as_text(testing_support::small_image()));
        session.unit.answers_left = c.answers_left;
        session.unit.stray = c.stray;
        session.unit.chatter.assign(c.chatter, 0x00);
        session.platform.clock = [&session] {
            return std::chrono::steady_clock::time_point(std::chrono::milliseconds{2} *
                                                         session.unit.read_timeouts.size());
        };
        session.platform.command_line = [](Command command) {
            return "<" + std::string(1, static_cast<char>(command)) + ">";  // as this run's command line writes it
        };
        PowerCycles user(c.answers, session.unit);
        user.console = c.console;
        user.on_power_up = [&](int count) {
            if (count == c.flash_changed_at_power_up) {
                session.unit.model.flash()[0x1234] ^= 1;
            }
        };
        EXPECT_EQ(session.run_program(user, "dic.uns"), c.status) << c.name;
        EXPECT_TRUE(session.out.ends_with(c.summary)) << c.name << ": " << session.out;
        EXPECT_EQ(session.errors.find("there is none: run <1>, <2> and <3> instead") != std::string::npos, !c.console)
            << c.name << ": " << session.errors;
        // Nothing is sent at a question, and after a failed stage nothing at all.
        const std::vector<std::size_t> all_questions = {1, kDownloadEnd};
        EXPECT_EQ(user.sent_at_questions,
                  std::vector<std::size_t>(all_questions.begin(), all_questions.begin() + c.questions))
            << c.name;
        const std::size_t sent_at_most[] = {c.console ? 1U : 0U, kDownloadEnd, kDownloadEnd + kFlashSize};
        EXPECT_LE(session.unit.sent.size(), sent_at_most[c.questions]) << c.name;
        EXPECT_EQ(session.opened_ports.size(),
                  c.questions + (c.console ? 1U : 0U) - (c.status == ExitStatus::interrupted ? 1U : 0U))
            << c.name;
    }
}

// Where Ctrl+C was ignored at start (nohup and the like), it ends nothing.
TEST(Programmer, QuestionOffersCtrlCOnlyWhereItEndsTheRun) {
    for (const bool ignored : {false, true}) {
        Session session;
        session.folder.write("dic.uns", as_text(testing_support::small_image()));
        session.unit.stop.ignored = ignored ? SIGINT : 0;
        PowerCycles user("\r\r", session.unit);
        EXPECT_EQ(session.run_program(user, "dic.uns"), ExitStatus::done);
        EXPECT_EQ(user.questions.at(0), std::string("Power the unit up again, then press Enter to download") +
                                            (ignored ? ": " : " (Ctrl+C ends the run here): "));
    }
}

TEST(Programmer, ImageCheckSaysWhatTheFileIs) {
    using Kind = ImageVerdict::Kind;
    const std::vector<std::uint8_t> linear = testing_support::small_image();
    std::vector<std::uint8_t> cut(kFlashSize, 0);  // length 29, filled to the last byte
    dicttools::write_slot(cut, 29, dicttools::kFirstGroupAddress);
    for (std::size_t at = dicttools::kFirstGroupAddress, n = 0; at < kFlashSize; ++n) {
        for (int digit = 28; digit >= 0 && at < kFlashSize; --digit) {
            cut[at++] = static_cast<std::uint8_t>('a' + (digit < 4 ? (n >> (4 * digit)) % 16 : 0));
        }
    }
    std::vector<std::uint8_t> damaged = linear;
    damaged[dicttools::kFirstGroupAddress] = 0;  // a 0x00 inside the first word
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        Kind kind;
        std::string line;  // the start of the only line; empty for none
    };
    const std::string text = "aardvark\nabacus\n";
    const Case cases[] = {
        {"Linear", linear, Kind::linear, ""},
        {"Prom", dicttools::make_prom_image(linear), Kind::prom,
         "flashprog: f is a PROM image (address-scrambled, for a PROM programmer): the flash takes dic.uns, the "
         "linear image\n"},
        {"WordList",
         {text.begin(), text.end()},
         Kind::not_an_image,
         "flashprog: f looks like a text word list, not a dictionary image"},
        {"Short", std::vector<std::uint8_t>(1000), Kind::not_an_image,
         "flashprog: f is not a dictionary image: it has 1000 bytes, not 524288\n"},
        {"Long", std::vector<std::uint8_t>(kFlashSize + 1), Kind::not_an_image,
         "flashprog: f is not a dictionary image: it has more than 524288 bytes\n"},
        {"IndexWrongBothWays", std::vector<std::uint8_t>(kFlashSize, 0xFF), Kind::not_an_image,
         "flashprog: f is not a dictionary image: its index reads wrong in linear and in PROM order\n"},
        {"Damaged", damaged, Kind::damaged, "flashprog: f is a damaged dictionary image: problem at "},
        {"CutAtTheEnd", cut, Kind::linear,
         "flashprog: warning: f: note at 0x00078: the group of length 29 at 0x00078 is cut at the end of the image"},
    };
    for (const Case& c : cases) {
        const ImageVerdict verdict = judge_image(c.bytes, "f");
        EXPECT_EQ(verdict.kind, c.kind) << c.name;
        EXPECT_EQ(verdict.lines.size(), c.line.empty() ? 0U : 1U) << c.name;
        EXPECT_TRUE(verdict.lines.empty() || verdict.lines[0].starts_with(c.line))
            << c.name << ": " << verdict.lines[0];
    }

    // The menu loads a PROM image as it always has, with a warning.
    Session menu_run;
    menu_run.folder.write("dic.uns", as_text(dicttools::make_prom_image(linear)));
    EXPECT_EQ(menu_run.run("7"), ExitStatus::done);
    EXPECT_EQ(menu_run.errors, prom_image_warning("dic.uns"));
    EXPECT_EQ(menu_run.out, menu(1) + "Program closing..\n");
}

TEST(Programmer, QuietLeavesOutTheProgressLinesOnly) {
    std::ostringstream shown;
    WithoutProgress quiet(shown);
    std::ostream console(&quiet);
    console << "Waiting for acknowledge...\nDownloading 0 of 524288 bytes   \rDownloading 1000 of 524288 bytes   \r"
            << std::flush;
    EXPECT_EQ(shown.str(), "Waiting for acknowledge...\n");
    console << "\nFinished programming.\n" << std::flush << "Power down the unit." << std::flush;
    EXPECT_EQ(shown.str(), "Waiting for acknowledge...\n\nFinished programming.\nPower down the unit.");
}

}  // namespace
}  // namespace flashprog
