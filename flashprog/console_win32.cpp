// Windows console keys: one key from the console, without echo or Enter.
#define WIN32_LEAN_AND_MEAN
#include <conio.h>
#include <windows.h>

#include <vector>

#include "key_source.hpp"

namespace flashprog {

namespace {

/// The console's input, open for as long as this lives.
class ConsoleInput {
public:
    ConsoleInput()
        : handle_(::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr)) {}
    ConsoleInput(const ConsoleInput&) = delete;
    ConsoleInput& operator=(const ConsoleInput&) = delete;
    ~ConsoleInput() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
    }
    /// INVALID_HANDLE_VALUE when there is no console.
    HANDLE handle() const { return handle_; }

private:
    HANDLE handle_;
};

/// Keeps Ctrl+C a key (as _getch reads it) while the menu waits for one,
/// instead of a control event, and gives the console back its mode.
class KeysOnlyMode {
public:
    explicit KeysOnlyMode(HANDLE input) : input_(input), saved_(::GetConsoleMode(input, &original_) != 0) {
        if (saved_) {
            ::SetConsoleMode(input_, original_ & ~static_cast<DWORD>(ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT |
                                                                     ENABLE_ECHO_INPUT));
        }
    }
    KeysOnlyMode(const KeysOnlyMode&) = delete;
    KeysOnlyMode& operator=(const KeysOnlyMode&) = delete;
    ~KeysOnlyMode() {
        if (saved_) {
            ::SetConsoleMode(input_, original_);
        }
    }

private:
    HANDLE input_;
    DWORD original_ = 0;
    bool saved_;
};

/// Removes the `count` oldest input events: ones that no key read takes
/// (key releases, mouse and focus events), which would otherwise keep the
/// console's handle signalled.
void drop_events(HANDLE input, DWORD count) {
    std::vector<INPUT_RECORD> events(count);
    DWORD read = 0;
    ::ReadConsoleInputA(input, events.data(), count, &read);
}

class ConsoleKeys final : public KeySource {
public:
    explicit ConsoleKeys(const dicttools::StopRequest& stop) : stop_(stop) {}

    std::uint8_t read_key() override {
        const ConsoleInput input;
        if (input.handle() == INVALID_HANDLE_VALUE) {
            return kEndOfInput;
        }
        const KeysOnlyMode mode(input.handle());
        const auto slice = static_cast<DWORD>(dicttools::kStopCheckInterval.count());
        while (!stop_.requested()) {
            DWORD pending = 0;
            ::GetNumberOfConsoleInputEvents(input.handle(), &pending);
            if (::_kbhit() != 0) {
                // A function or cursor key gives 0x00 or 0xE0 first; its second
                // code stays unread and goes with the keys typed ahead.
                return static_cast<std::uint8_t>(::_getch());
            }
            if (pending > 0) {
                drop_events(input.handle(), pending);  // none of them is a key
            }
            ::WaitForSingleObject(input.handle(), slice);
        }
        return kEndOfInput;
    }

    void discard_typed_ahead() override {
        const ConsoleInput input;
        if (input.handle() != INVALID_HANDLE_VALUE) {
            ::FlushConsoleInputBuffer(input.handle());
        }
    }

private:
    const dicttools::StopRequest& stop_;
};

}  // namespace

std::unique_ptr<KeySource> open_console_keys(const dicttools::StopRequest& stop) {
    return std::make_unique<ConsoleKeys>(stop);
}

}  // namespace flashprog
