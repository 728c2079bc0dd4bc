// Windows console keys: one key from the console, without echo or Enter.
#define WIN32_LEAN_AND_MEAN
#include <conio.h>
#include <windows.h>

#include "key_source.hpp"

namespace flashprog {

namespace {

bool has_console() {
    const HANDLE input = ::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::CloseHandle(input);
    return true;
}

class ConsoleKeys final : public KeySource {
public:
    std::uint8_t read_key() override {
        if (!has_console()) {
            return kEndOfInput;
        }
        // A function or cursor key gives 0x00 or 0xE0 first; its second code
        // stays unread in this program and goes nowhere when it ends.
        return static_cast<std::uint8_t>(::_getch());
    }
};

}  // namespace

std::unique_ptr<KeySource> open_console_keys() { return std::make_unique<ConsoleKeys>(); }

}  // namespace flashprog
