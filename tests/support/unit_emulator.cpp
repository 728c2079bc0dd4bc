// unit_emulator [--always-on] [--delay-ms N] LINK FLASH_FILE
//
// An emulated unit on a pseudo-terminal: makes LINK a symbolic link to the
// far side of a new pseudo-terminal and answers the unit's byte protocol on
// it, with a flash that starts as FLASH_FILE holds it (erased when the file
// is missing). Prints "ready" once LINK is in place. The unit carries out
// one command per power-up: each line on standard input powers it down and
// up again, and "ready" follows. Runs until its standard input closes, then
// writes the flash back to FLASH_FILE. --always-on: a unit never powered
// down, which takes each command where the one before ended.
// --delay-ms holds back every answer but an erase's for N ms after its byte
// arrived, as a USB adapter's latency timer does.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/pseudo_terminal.hpp"
#include "support/unit_model.hpp"

namespace {

using testing_support::UnitModel;

UnitModel load_unit(const std::filesystem::path& flash_file) {
    std::ifstream in(flash_file, std::ios::binary);
    if (!in) {
        return {};  // an erased unit
    }
    return UnitModel(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

bool save_flash(const UnitModel& unit, const std::filesystem::path& flash_file) {
    std::ofstream out(flash_file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(unit.flash().data()), static_cast<std::streamsize>(unit.flash().size()));
    return static_cast<bool>(out.flush());
}

/// Answers every byte that arrives on `line` until standard input closes.
void serve(UnitModel& unit, const testing_support::PseudoTerminal& line) {
    pollfd watched[2] = {{line.near_fd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (watched[1].revents != 0) {
            char lines[64];
            const ssize_t count = ::read(STDIN_FILENO, lines, sizeof lines);
            if (count <= 0) {
                return;
            }
            for (ssize_t i = 0; i < count; ++i) {
                if (lines[i] == '\n') {
                    unit.power_up();
                    std::cout << "ready" << std::endl;
                }
            }
        }
        if ((watched[0].revents & POLLIN) != 0) {
            const auto arrived = std::chrono::steady_clock::now();
            std::uint8_t received[256];
            const ssize_t count = ::read(line.near_fd(), received, sizeof received);
            for (ssize_t i = 0; i < count; ++i) {
                if (const std::optional<UnitModel::Answer> answer = unit.answer(received[i])) {
                    std::this_thread::sleep_until(arrived + answer->delay);
                    line.write(answer->byte);
                }
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::chrono::milliseconds reply_delay{0};
    bool always_on = false;
    if (argc >= 4 && std::string_view(argv[1]) == "--always-on") {
        always_on = true;
        ++argv;
        --argc;
    }
    if (argc == 5 && std::string_view(argv[1]) == "--delay-ms") {
        reply_delay = std::chrono::milliseconds{std::stoi(argv[2])};
        argv += 2;
        argc -= 2;
    }
    if (argc != 3) {
        std::cerr << "usage: unit_emulator [--always-on] [--delay-ms N] LINK FLASH_FILE\n";
        return 2;
    }
    const std::filesystem::path link_path = argv[1];
    const std::filesystem::path flash_file = argv[2];

    UnitModel unit = load_unit(flash_file);
    unit.erase_time = std::chrono::milliseconds{0};
    unit.reply_delay = reply_delay;
    unit.always_on = always_on;
    const testing_support::PseudoTerminal line;
    // Holding the far side open too keeps the line up between two programs using it.
    const int keep_open = ::open(line.far_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);

    std::error_code error;
    std::filesystem::create_directories(link_path.parent_path(), error);
    std::filesystem::remove(link_path, error);
    std::filesystem::create_symlink(line.far_path(), link_path, error);
    if (keep_open < 0 || error) {
        std::cerr << "unit_emulator: cannot make " << link_path << ": " << error.message() << "\n";
        return 1;
    }
    std::cout << "ready" << std::endl;

    serve(unit, line);

    std::filesystem::remove(link_path, error);
    ::close(keep_open);
    if (!save_flash(unit, flash_file)) {
        std::cerr << "unit_emulator: cannot write " << flash_file << "\n";
        return 1;
    }
    return 0;
}
