// The programmer's key menu.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>

#include "key_source.hpp"

namespace flashprog {

struct MenuChoice {
    int port_index = 0;  // 0 for COM1, 1 for COM2
    /// The key that ended the menu; none when the user chose to exit.
    std::optional<std::uint8_t> command_key;
    /// The key read found no console: command_key is kEndOfInput, no key pressed.
    bool no_console = false;
};

/// Shows the menu and reads keys until one ends it: 5 and 6 choose COM1
/// and COM2 and show the menu again, 7 exits, and any other key (the
/// commands 1 to 4, but also end of input or a stray key) ends the menu as
/// the command key. The console is in single-key mode from before the
/// menu is first shown until it ends: keys typed before the menu shows,
/// Ctrl+C too, are read as its keys; those typed after the one that ends
/// it, and not read yet, are thrown away.
MenuChoice run_menu(KeySource& keys, std::ostream& console);

}  // namespace flashprog
