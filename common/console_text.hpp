// Writing the programs' messages: each reaches the console as soon as it is
// printed, also one without a line end or ending in a carriage return.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>

namespace dicttools {

inline void say(std::ostream& console, std::string_view text) { console << text << std::flush; }

namespace detail {

inline std::string escaped(std::string_view bytes, bool backslash_too) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\' && backslash_too) {
            text += "\\\\";
        } else if (byte >= 0x20 && byte < 0x7F) {
            text += c;
        } else {
            text += {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0xF]};
        }
    }
    return text;
}

}  // namespace detail

/// `bytes` with every byte outside printable ASCII written as \xNN and a
/// backslash as \\, for a message that must stay on one line, keep control
/// bytes off a terminal and not be mistaken for another word.
inline std::string printable(std::string_view bytes) { return detail::escaped(bytes, true); }

/// A file's name for a message: the path as given, its bytes outside
/// printable ASCII written as printable() writes them but a backslash kept
/// as it is (the folder separator on Windows).
inline std::string printable_name(const std::filesystem::path& path) { return detail::escaped(path.string(), false); }

}  // namespace dicttools
