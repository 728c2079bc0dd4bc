// flashprog: erases, downloads, verifies or saves the unit's flash over a
// serial port, one command per run: chosen in a key menu, with "dic.uns"
// from the current directory, or named on the command line.
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

namespace {

constexpr std::string_view kUsage =
    "usage: flashprog\n"
    "       flashprog [-p PORT] erase\n"
    "       flashprog [-p PORT] download [IMAGE]\n"
    "       flashprog [-p PORT] verify [IMAGE]\n"
    "       flashprog [-p PORT] save [FILE]\n"
    "       flashprog --help | --version\n"
    "\n"
    "Carries out one command on the unit over a serial port (38400 baud, 8N1):\n"
    "erase its flash, download an image into it, verify it against an image, or\n"
    "save it into a file. Without arguments it loads dic.uns from the current\n"
    "folder and the command and the port (COM1 or COM2) are chosen in a key\n"
    "menu; with a command it reads no key and ends its output with a line end.\n"
    "\n"
    "  IMAGE                 the image to download or verify (default dic.uns)\n"
    "  FILE                  the file to save into (default dic.sav). Only a\n"
    "                        complete, clean read-back replaces it; otherwise\n"
    "                        the bytes go to FILE.part (or to FILE when there\n"
    "                        was none and the answers were in step)\n"
    "  -p, --port PORT       COM1 (the default) or COM2, in any case, or a\n"
    "                        serial device: a path such as /dev/ttyUSB0, or\n"
    "                        on Windows any COMn\n"
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
    "  0      done, or left with 7, or the key was no command\n"
    "  1      the image missing or unreadable, or the port could not be opened\n"
    "  2      the unit did not respond\n"
    "  3      verify found a mismatch\n"
    "  4      the read-back file could not be written\n"
    "  5      the unit's answers were out of step (noise on the line), or\n"
    "         the line kept sending before the command, which was not sent\n"
    "  64     wrong arguments\n"
    "  74     this help or the version could not be written\n"
    "  128+N  interrupted by signal N (Ctrl+C gives 130)\n";

constexpr dicttools::Option kOptions[] = {{"port", 'p', true}};
constexpr dicttools::CommandLine kCommandLine{"flashprog", kUsage, kOptions};

/// A command named on the command line, with its file and port.
struct CommandRun {
    flashprog::Command command = flashprog::Command::erase;
    std::string file;                   // the image or the read-back file
    int port_index = 0;                 // COM1 or COM2, when no device is named
    std::optional<std::string> device;  // a device named instead
    std::string name;                   // the command as given, with its file if one was named
};

struct CommandName {
    std::string_view name;
    flashprog::Command command;
    std::string_view default_file;  // empty: it takes no file
};

constexpr std::array<CommandName, 4> kCommands = {{
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
        return refuse("no command named: erase, download, verify or save");
    }
    const auto* named =
        std::find_if(kCommands.begin(), kCommands.end(), [&](const CommandName& c) { return c.name == operands[0]; });
    if (named == kCommands.end()) {
        return refuse("unknown command '" + dicttools::printable(operands[0]) + "'");
    }
    const std::size_t files = named->default_file.empty() ? 0 : 1;
    if (operands.size() > 1 + files || (operands.size() == 2 && operands[1].empty())) {
        return refuse(dicttools::unexpected_argument(operands.back()));
    }
    CommandRun run;
    run.command = named->command;
    run.name = operands.size() == 2
                   ? operands[0] + " " + dicttools::shell_operand(operands[1], dicttools::platform_shell())
                   : operands[0];
    run.file = operands.size() == 2 ? operands[1] : std::string(named->default_file);
    if (const auto port = arguments.value_of("port")) {
        if (port->empty()) {
            return refuse("the port name is empty");
        }
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
    const std::string device = run.device ? *run.device : device_of(run.port_index);
    const auto open_port = [&](int) { return flashprog::open_named_port(device, interrupts); };
    flashprog::Platform platform;
    platform.other_devices = [&run](int port_index) {
        return flashprog::other_devices_advice(flashprog::list_serial_devices(), port_index,
                                               flashprog::platform_port_naming(), run.name);
    };
    platform.latency_advice = [&device](int) { return flashprog::latency_advice(device); };
    return exit_code(flashprog::run_command({std::cout, std::cerr}, run.command, run.file, run.port_index, open_port,
                                            interrupts, platform),
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
