// Windows console keys: one key from the console, without echo or Enter.
#define WIN32_LEAN_AND_MEAN
#include <conio.h>
#include <windows.h>

#include <optional>
#include <string_view>
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

constexpr DWORD kLineModes = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
/// The modes cleared while waiting for Enter: not processed input, so that
/// Ctrl+C stays a control event.
constexpr DWORD kEnterModes = kLineModes & ~static_cast<DWORD>(ENABLE_PROCESSED_INPUT);

/// Keeps Ctrl+C a key (as _getch reads it) while the menu waits for one,
/// instead of a control event, unless `cleared` keeps processed input; and
/// gives the console back its mode.
class KeysOnlyMode {
public:
    explicit KeysOnlyMode(HANDLE input, DWORD cleared = kLineModes)
        : input_(input), saved_(::GetConsoleMode(input, &original_) != 0) {
        if (saved_) {
            ::SetConsoleMode(input_, original_ & ~cleared);
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

/// The console's input in keys-only mode for as long as this lives.
class KeyConsole {
public:
    KeyConsole() : mode_(input_.handle()) {}
    /// INVALID_HANDLE_VALUE when there is no console.
    HANDLE handle() const { return input_.handle(); }

private:
    ConsoleInput input_;
    KeysOnlyMode mode_;  // after input_: left before it closes
};

class ConsoleKeys final : public KeySource {
public:
    explicit ConsoleKeys(const dicttools::StopRequest& stop) : stop_(stop) {}

    void enter_single_key_mode() override { held_.emplace(); }
    void leave_single_key_mode() override { held_.reset(); }

    std::uint8_t read_key() override {
        if (held_) {
            return read_key_from(*held_);
        }
        const KeyConsole console;
        return read_key_from(console);
    }

    bool no_console() const override { return no_console_; }

    bool console_present() override {
        const ConsoleInput input;
        DWORD mode = 0;
        return input.handle() != INVALID_HANDLE_VALUE && ::GetConsoleMode(input.handle(), &mode) != 0;
    }

    bool wait_for_enter(std::string_view question) override {
        const ConsoleInput input;
        if (input.handle() == INVALID_HANDLE_VALUE) {
            return false;
        }
        const KeysOnlyMode mode(input.handle(), kEnterModes);
        show(question);
        const bool entered = wait_for_enter_key(input.handle());
        show("\n");
        return entered;
    }

    void discard_typed_ahead() override {
        const ConsoleInput input;
        if (input.handle() != INVALID_HANDLE_VALUE) {
            ::FlushConsoleInputBuffer(input.handle());
        }
    }

private:
    /// Writes `text` to the console's own output, as far as it takes it.
    static void show(std::string_view text) {
        const HANDLE output = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, 0, nullptr);
        if (output == INVALID_HANDLE_VALUE) {
            return;
        }
        DWORD written = 0;
        ::WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        ::CloseHandle(output);
    }

    bool wait_for_enter_key(HANDLE input) const {
        for (;;) {
            const std::optional<std::uint8_t> key = next_key(input);
            if (!key) {
                return false;
            }
            if (*key == '\r' || *key == '\n') {
                return true;
            }
            if ((*key == 0x00 || *key == 0xE0) && ::_kbhit() != 0) {
                ::_getch();  // the second code of a function or cursor key
            }
        }
    }

    std::uint8_t read_key_from(const KeyConsole& console) {
        no_console_ = console.handle() == INVALID_HANDLE_VALUE;
        if (no_console_) {
            return kEndOfInput;
        }
        // A function or cursor key gives 0x00 or 0xE0 first; its second
        // code stays unread and goes with the keys typed ahead.
        return next_key(console.handle()).value_or(kEndOfInput);
    }

    /// The next key's first code; none once a stop is requested.
    std::optional<std::uint8_t> next_key(HANDLE input) const {
        const auto slice = static_cast<DWORD>(dicttools::kStopCheckInterval.count());
        while (!stop_.requested()) {
            DWORD pending = 0;
            ::GetNumberOfConsoleInputEvents(input, &pending);
            if (::_kbhit() != 0) {
                return static_cast<std::uint8_t>(::_getch());
            }
            if (pending > 0) {
                drop_events(input, pending);  // none of them is a key
            }
            ::WaitForSingleObject(input, slice);
        }
        return std::nullopt;
    }

    const dicttools::StopRequest& stop_;
    std::optional<KeyConsole> held_;
    bool no_console_ = false;
};

}  // namespace

std::unique_ptr<KeySource> open_console_keys(const dicttools::StopRequest& stop) {
    return std::make_unique<ConsoleKeys>(stop);
}

}  // namespace flashprog
