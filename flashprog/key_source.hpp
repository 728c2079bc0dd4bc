// Where the menu gets its key presses from.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "interrupts.hpp"

namespace flashprog {

/// The code a key read gives when there is no console to read from.
inline constexpr std::uint8_t kEndOfInput = 0xFF;

class KeySource {
public:
    virtual ~KeySource() = default;

    /// Puts the console into single-key mode until leave_single_key_mode():
    /// keys are taken without echo and without Enter, and Ctrl+C is a key,
    /// also while a prompt is being printed before the key is read. Nothing
    /// to do without a console.
    virtual void enter_single_key_mode() = 0;
    /// Gives the console back its settings.
    virtual void leave_single_key_mode() = 0;

    /// Waits for one key press, without echo and without Enter, and returns
    /// the low 8 bits of its character code; kEndOfInput when there is no
    /// console or it has closed (no_console() then says so) or once the run
    /// is asked to stop. Keys that send several codes (cursor and function
    /// keys) give their first code only; the rest is discarded. Outside
    /// single-key mode it enters that mode for the one key.
    virtual std::uint8_t read_key() = 0;

    /// Whether the last read_key() found no console to read a key from: its
    /// kEndOfInput is then no key pressed.
    virtual bool no_console() const = 0;

    /// Throws away the keys typed ahead and not read yet, so that they do
    /// not reach whatever reads the console after this program.
    virtual void discard_typed_ahead() = 0;

    /// Whether there is a console to read keys from.
    virtual bool console_present() = 0;

    /// Shows `question` on the console itself (where the answer is read,
    /// whatever standard output is), then waits for Enter (CR or LF),
    /// without echo, ignoring any other key, and ends the question's line on
    /// the console. Ctrl+C stays the interrupt it is at a prompt (not a
    /// key), so that the stop request comes as from a signal. True on Enter;
    /// false when there is no console or it has closed, or once a stop is
    /// requested.
    virtual bool wait_for_enter(std::string_view question) = 0;
};

/// Single-key mode for as long as this lives, left on every way out.
class SingleKeyScope {
public:
    explicit SingleKeyScope(KeySource& keys) : keys_(keys) { keys_.enter_single_key_mode(); }
    SingleKeyScope(const SingleKeyScope&) = delete;
    SingleKeyScope& operator=(const SingleKeyScope&) = delete;
    ~SingleKeyScope() { keys_.leave_single_key_mode(); }

private:
    KeySource& keys_;
};

/// The console of this platform (one implementation per platform file).
/// A key read ends with kEndOfInput, and the console gets back its
/// settings, once `stop` is requested (it must outlive the source). Ctrl+C
/// typed at the console is the key 0x03 for read_key(), not a stop request.
std::unique_ptr<KeySource> open_console_keys(const dicttools::StopRequest& stop);

}  // namespace flashprog
