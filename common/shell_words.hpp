// Words of a command line, written so that the user's shell takes them back
// as they were: the commands the programs' advice suggests.
#pragma once

#include <string>
#include <string_view>

namespace dicttools {

/// The shell a suggested command is written for.
enum class Shell {
    posix,    // sh and its kin: '...' and $'...'
    windows,  // cmd.exe: "..."
};

/// The shell of this platform (one definition per platform file).
Shell platform_shell();

/// `word` as `shell` takes it back: as it is when it holds only letters,
/// digits and marks no shell reads, else quoted. For a POSIX shell a word
/// of printable ASCII goes in single quotes; one with any other byte in
/// $'...', those bytes written as \xNN, so that the message stays on one
/// line and the shell gives back the very bytes. Windows names cannot hold
/// a double quote: the word goes in double quotes, a byte outside printable
/// ASCII written as printable_name() writes it (no shell there takes such
/// bytes back from a message).
std::string shell_word(std::string_view word, Shell shell);

/// `word` as an operand of one of these programs: shell_word(), after
/// "-- " when it begins with '-' (which would be read as an option).
std::string shell_operand(std::string_view word, Shell shell);

}  // namespace dicttools
