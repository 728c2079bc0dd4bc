#include "menu.hpp"

#include <string>

namespace flashprog {

namespace {

void show_menu(std::ostream& console, int port_index) {
    console << "\n\n"
            << "QVR Crossword Solver flash programmer\n"
            << "=====================================\n\n"
            << "Select an option: (using COM" << port_index + 1 << ")\n"
            << " 1) Erase Flash\n"
            << " 2) Download dictionary to Flash\n"
            << " 3) Verify Flash contents\n"
            << " 4) Save Flash contents\n"
            << " 5) Use COM1\n"
            << " 6) Use COM2\n"
            << " 7) Exit program\n\n"
            << std::flush;
}

}  // namespace

MenuChoice run_menu(KeySource& keys, std::ostream& console) {
    const SingleKeyScope single_keys(keys);
    MenuChoice choice;
    for (;;) {
        show_menu(console, choice.port_index);
        const std::uint8_t key = keys.read_key();
        switch (key) {
            case '5':
                choice.port_index = 0;
                break;
            case '6':
                choice.port_index = 1;
                break;
            case '7':
                keys.discard_typed_ahead();
                console << "Program closing..\n" << std::flush;
                return choice;
            default:
                keys.discard_typed_ahead();
                choice.command_key = key;
                choice.no_console = keys.no_console();
                return choice;
        }
    }
}

}  // namespace flashprog
