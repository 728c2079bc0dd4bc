// flashprog: erases, downloads, verifies or saves the unit's flash over a
// serial port, one command per run: chosen in a key menu, with "dic.uns"
// from the current directory, or named on the command line; or programs
// it (erase, download, verify) in one run that asks for the power cycles.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "console_text.hpp"
#include "interrupts.hpp"
#include "low_latency.hpp"
#include "program_arguments.hpp"
#include "programmer.hpp"
#include "serial_devices.hpp"
#include "serial_port.hpp"
#include "shell_words.hpp"
#include "standard_streams.hpp"
#include "without_progress.hpp"

namespace {

constexpr std::string_view kUsage =
    "usage: flashprog\n"
    "       flashprog [-p PORT] [-q] [--force] program [IMAGE]\n"
    "       flashprog [-p PORT] [-q] erase\n"
    "       flashprog [-p PORT] [-q] [--force] download [IMAGE]\n"
    "       flashprog [-p PORT] [-q] [--force] verify [IMAGE]\n"
    "       flashprog [-p PORT] [-q] save [FILE]\n"
    "       flashprog --help | --version\n"
    "\n"
    "Carries out one command on the unit over a serial port (38400 baud, 8N1):\n"
    "erase its flash, download an image into it, verify it against an image, or\n"
    "save it into a file. The unit takes one command per power-up. Without\n"
    "arguments it loads dic.uns from the current folder and the command and the\n"
    "port (COM1 or COM2) are chosen in a key menu; with a command it reads no\n"
    "key and ends its output with a line end.\n"
    "\n"
    "program erases, downloads and verifies in one run: after Erase and after\n"
    "Download it asks on the console to power the unit down and up again and\n"
    "press Enter (keys typed before the question are thrown away; Ctrl+C there\n"
    "ends the run and sends nothing more). A stage that fails ends the run with\n"
    "its status, and a closing line names each stage done, failed or not run.\n"
    "Without a console it is refused (64): run erase, download and verify.\n"
    "\n"
    "Before the port is opened, download, verify and program check IMAGE as\n"
    "dictinfo reads images: a PROM image (dic.bin) or a file that is no\n"
    "dictionary image (a word list, another size, an index that reads wrong\n"
    "in both orders) is refused (1); trouble dictinfo finds in an image that\n"
    "reads right is a warning on standard error.\n"
    "\n"
    "  IMAGE                 the linear image to download or verify (default\n"
    "                        dic.uns)\n"
    "  FILE                  the file to save into (default dic.sav). Only a\n"
    "                        complete, clean read-back replaces it; otherwise\n"
    "                        the bytes go to FILE.part (or to FILE when there\n"
    "                        is none and the answers were in step)\n"
    "  -p, --port PORT       COM1 (the default) or COM2, in any case, or a\n"
    "                        serial device: a path such as /dev/ttyUSB0, or\n"
    "                        on Windows any COMn\n"
    "  -q, --quiet           no progress lines (the other messages stay)\n"
    "      --force           download or verify IMAGE as it is, unchecked\n"
    "  -h, --help            show this help\n"
    "      --version         show the version\n"
    "\n"
    "Environment:\n"
    "  FLASHPROG_COM1  the device behind COM1 (default " FLASHPROG_COM1_DEVICE
    ")\n"
    "  FLASHPROG_COM2  the device behind COM2 (default " FLASHPROG_COM2_DEVICE
    ")\n"
    "\n"
    "Exit status:\n"
    "  0      done (program: all three stages), or left with 7, or the key was\n"
    "         no command\n"
    "  1      the image missing, unreadable or refused by the check, the port\n"
    "         could not be opened, or no answer could be read at a question\n"
    "  2      the unit did not respond\n"
    "  3      verify found a mismatch\n"
    "  4      the read-back file could not be written\n"
    "  5      the unit's answers were out of step (noise on the line), or\n"
    "         the line kept sending before the command, which was not sent\n"
    "  64     wrong arguments, or program without a console\n"
    "  74     this help or the version could not be written\n"
    "  128+N  interrupted by signal N (Ctrl+C gives 130)\n"
    "program ends with the status of the stage that failed.\n";

constexpr dicttools::Option kOptions[] = {{"port", 'p', true}, {"quiet", 'q', false}, {"force", 0, false}};
constexpr dicttools::CommandLine kCommandLine{"flashprog", kUsage, kOptions};

/// A command named on the command line, with its file and port.
struct CommandRun {
    std::optional<flashprog::Command> command;  // none: program
    std::string file;                           // the image or the read-back file
    int port_index = 0;                         // COM1 or COM2, when no device is named
    std::optional<std::string> device;          // a device named instead
    std::string name;                           // the command as given, with its file if one was named
    std::string port_words;                     // " -p PORT" as given (for the shell), or empty
    std::string file_word;                      // " FILE" as given (for the shell), or empty
    bool quiet = false;                         // no progress lines
    flashprog::ImageCheck check = flashprog::ImageCheck::judged;
};

struct CommandName {
    std::string_view name;
    std::optional<flashprog::Command> command;  // none: program
    std::string_view default_file;              // empty: it takes no file
};

constexpr std::array<CommandName, 5> kCommands = {{
    {"program", std::nullopt, "dic.uns"},
    {"erase", flashprog::Command::erase, ""},
    {"download", flashprog::Command::download, "dic.uns"},
    {"verify", flashprog::Command::verify, "dic.uns"},
    {"save", flashprog::Command::save, "dic.sav"},
}};

/// The command that `arguments` name, or why they cannot be run.
std::variant<CommandRun, dicttools::EarlyExit> command_of(const dicttools::Arguments& arguments) {
    const auto refuse = [](const std::string& complaint) { return dicttools::usage_error("flashprog", complaint); };
    const std::vector<std::string>& operands = arguments.operands;
    if (operands.empty()) {
        return refuse("no command named: program, erase, download, verify or save");
    }
    const auto* named =
        std::find_if(kCommands.begin(), kCommands.end(), [&](const CommandName& c) { return c.name == operands[0]; });
    if (named == kCommands.end()) {
        return refuse("unknown command '" + dicttools::printable(operands[0]) + "'");
    }
    const std::size_t files = named->default_file.empty() ? 0 : 1;
    if (operands.size() > 1 + files) {
        return refuse(dicttools::unexpected_argument(operands.back()));
    }
    if (operands.size() == 2 && operands[1].empty()) {
        return refuse("the file name is empty");
    }
    CommandRun run;
    run.command = named->command;
    run.file_word =
        operands.size() == 2 ? " " + dicttools::shell_operand(operands[1], dicttools::platform_shell()) : "";
    run.name = operands[0] + run.file_word;
    run.file = operands.size() == 2 ? operands[1] : std::string(named->default_file);
    run.quiet = arguments.has("quiet");
    run.check = arguments.has("force") ? flashprog::ImageCheck::forced : flashprog::ImageCheck::judged;
    if (run.check == flashprog::ImageCheck::forced) {
        if (named->command == flashprog::Command::erase || named->command == flashprog::Command::save) {
            return refuse("--force goes with program, download and verify, which check an image");
        }
        run.name = "--force " + run.name;  // the advice on other devices repeats the options
    }
    if (run.quiet) {
        run.name = "-q " + run.name;
    }
    if (const auto port = arguments.value_of("port")) {
        if (port->empty()) {
            return refuse("the port name is empty");
        }
        run.port_words = " -p " + dicttools::shell_word(*port, dicttools::platform_shell());
        if (const auto index = flashprog::menu_port_index(*port)) {
            run.port_index = *index;
        } else {
            run.device = flashprog::resolve_port_name(*port, {}, flashprog::platform_port_naming());
        }
    }
    return run;
}

/// The device of a port, as FLASHPROG_COM1 or FLASHPROG_COM2 names it or else as built.
std::string device_of(int port_index) {
    const char* configured = std::getenv(flashprog::port_variable(port_index).c_str());
    return flashprog::serial_device(port_index,
                                    configured ? std::optional<std::string_view>(configured) : std::nullopt);
}

int exit_code(flashprog::ExitStatus status, const dicttools::ProcessInterrupts& interrupts) {
    return status == flashprog::ExitStatus::interrupted ? dicttools::exit_status_for_signal(interrupts.signal())
                                                        : static_cast<int>(status);
}

/// The menu, as it has always been.
int run_menu(const dicttools::ProcessInterrupts& interrupts) {
    const auto keys = flashprog::open_console_keys(interrupts);
    const auto open_port = [&interrupts](int port_index) {
        return flashprog::open_serial_port(device_of(port_index), interrupts);
    };
    flashprog::Platform platform;
    platform.other_devices = [](int port_index) {
        return flashprog::other_devices_advice(flashprog::list_serial_devices(), port_index,
                                               flashprog::platform_port_naming());
    };
    platform.latency_advice = [](int port_index) { return flashprog::latency_advice(device_of(port_index)); };
    return exit_code(flashprog::run_programmer({std::cout, std::cerr}, *keys, open_port, ".", interrupts, platform),
                     interrupts);
}

/// One command named on the command line.
int run_command(const CommandRun& run, const dicttools::ProcessInterrupts& interrupts) {
    flashprog::WithoutProgress quiet_buffer(std::cout);
    std::ostream quiet_out(&quiet_buffer);
    const flashprog::Consoles consoles{run.quiet ? quiet_out : std::cout, std::cerr};
    const std::string device = run.device ? *run.device : device_of(run.port_index);
    const auto open_port = [&](int) { return flashprog::open_named_port(device, interrupts); };
    flashprog::Platform platform;
    platform.other_devices = [&run](int port_index) {
        return flashprog::other_devices_advice(flashprog::list_serial_devices(), port_index,
                                               flashprog::platform_port_naming(), run.name);
    };
    platform.latency_advice = [&device](int) { return flashprog::latency_advice(device); };
    platform.command_line = [&run](flashprog::Command command) {
        const bool image = command != flashprog::Command::erase;
        const auto named = std::find_if(kCommands.begin(), kCommands.end(),
                                        [&](const CommandName& c) { return c.command == command; });
        return "flashprog" + run.port_words + (run.quiet ? " -q" : "") +
               (image && run.check == flashprog::ImageCheck::forced ? " --force" : "") + " " +
               std::string(named->name) + (image ? run.file_word : "");
    };
    if (!run.command) {
        const auto keys = flashprog::open_console_keys(interrupts);
        return exit_code(flashprog::run_program(consoles, *keys, run.file, run.port_index, open_port, interrupts,
                                                platform, run.check),
                         interrupts);
    }
    return exit_code(flashprog::run_command(consoles, *run.command, run.file, run.port_index, open_port, interrupts,
                                            platform, run.check),
                     interrupts);
}

}  // namespace

int main(int argc, char** argv) {
    dicttools::open_closed_standard_streams();  // before any file or port is opened in their place
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        const dicttools::ProcessInterrupts interrupts;
        return run_menu(interrupts);
    }
    const auto parsed = dicttools::parse_arguments(args, kCommandLine);
    if (const auto* early = std::get_if<dicttools::EarlyExit>(&parsed)) {
        return dicttools::finish_early(*early, "flashprog", std::cout, std::cerr);
    }
    const auto command = command_of(std::get<dicttools::Arguments>(parsed));
    if (const auto* early = std::get_if<dicttools::EarlyExit>(&command)) {
        return dicttools::finish_early(*early, "flashprog", std::cout, std::cerr);
    }
    const dicttools::ProcessInterrupts interrupts;
    return run_command(std::get<CommandRun>(command), interrupts);
}
