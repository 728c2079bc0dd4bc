#include "shell_words.hpp"

#include <algorithm>
#include <cctype>

#include "console_text.hpp"

namespace dicttools {

namespace {

bool printable_ascii(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte < 0x7F;
}

/// Whether no shell reads anything in `word`. A backslash separates folders
/// on Windows; elsewhere the shell takes it.
bool plain(std::string_view word, Shell shell) {
    const std::string_view marks = shell == Shell::windows ? "_./:\\-+=,@" : "_./:-+=,@";
    return !word.empty() && std::all_of(word.begin(), word.end(), [marks](char c) {
        return printable_ascii(c) &&
               (std::isalnum(static_cast<unsigned char>(c)) != 0 || marks.find(c) != std::string_view::npos);
    });
}

/// `word` in $'...', which a POSIX shell reads with backslash escapes.
std::string dollar_quoted(std::string_view word) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string quoted = "$'";
    for (const char c : word) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\' || c == '\'') {
            quoted += {'\\', c};
        } else if (printable_ascii(c)) {
            quoted += c;
        } else {
            quoted += {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0xF]};
        }
    }
    return quoted + "'";
}

}  // namespace

std::string shell_word(std::string_view word, Shell shell) {
    if (plain(word, shell)) {
        return std::string(word);
    }
    if (shell == Shell::windows) {
        return '"' + printable_name(std::string(word)) + '"';
    }
    if (!std::all_of(word.begin(), word.end(), printable_ascii)) {
        return dollar_quoted(word);
    }
    std::string quoted = "'";
    for (const char c : word) {
        quoted += c == '\'' ? std::string_view("'\\''") : std::string_view(&c, 1);
    }
    return quoted + "'";
}

std::string shell_operand(std::string_view word, Shell shell) {
    return (word.starts_with('-') ? "-- " : "") + shell_word(word, shell);
}

}  // namespace dicttools
