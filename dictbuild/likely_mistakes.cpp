#include "likely_mistakes.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "console_text.hpp"

namespace dictbuild {

namespace {

bool starts_with(std::string_view bytes, std::string_view mark) { return bytes.substr(0, mark.size()) == mark; }

/// 0x00 in most bytes of one parity and few of the other: text of 16-bit
/// units, mostly below 0x100. (A file of zeros only is no text at all.)
bool looks_like_utf16(std::string_view start) {
    const std::size_t pairs = start.size() / 2;
    if (pairs < 2) {
        return false;
    }
    std::size_t zeros[2] = {0, 0};
    for (std::size_t i = 0; i < pairs * 2; ++i) {
        zeros[i % 2] += start[i] == '\0' ? 1 : 0;
    }
    const auto mostly = [pairs](std::size_t n) { return 4 * n >= 3 * pairs; };
    const auto few = [pairs](std::size_t n) { return 4 * n <= pairs; };
    return (mostly(zeros[0]) && few(zeros[1])) || (mostly(zeros[1]) && few(zeros[0]));
}

/// The high bit of each of the eight bytes of `eight` that lies outside
/// 0x20..0x7E (and maybe of bytes above it): none when all are printable.
constexpr std::uint64_t outside_printable_ascii(std::uint64_t eight) {
    constexpr std::uint64_t kEach = 0x0101010101010101;
    constexpr std::uint64_t kHigh = 0x80 * kEach;
    const std::uint64_t dels_zeroed = eight ^ (0x7F * kEach);
    return (eight & kHigh)                                    // 0x80 and above
           | ((eight - 0x20 * kEach) & ~eight & kHigh)        // below 0x20
           | ((dels_zeroed - kEach) & ~dels_zeroed & kHigh);  // 0x7F
}
static_assert(outside_printable_ascii(0x207E414141414141) == 0 && outside_printable_ascii(0x4141417F41414141) != 0 &&
              outside_printable_ascii(0x414141411F414141) != 0 && outside_printable_ascii(0x8041414141414141) != 0);

/// The `Word` at `at` in `bytes`, which holds it.
template <typename Word>
Word load(std::string_view bytes, std::size_t at) {
    Word word = 0;
    std::memcpy(&word, bytes.data() + at, sizeof word);
    return word;
}

/// Whether `bytes` hold a byte outside 0x20..0x7E: eight bytes at a time
/// (the last eight overlapping the ones before), as every line of the list
/// is looked at.
bool outside_printable_ascii(std::string_view bytes) {
    const std::size_t size = bytes.size();
    if (size >= 8) {
        std::uint64_t found = 0;
        for (std::size_t at = 0; at + 8 < size; at += 8) {
            found |= outside_printable_ascii(load<std::uint64_t>(bytes, at));
        }
        return (found | outside_printable_ascii(load<std::uint64_t>(bytes, size - 8))) != 0;
    }
    if (size >= 4) {  // two words of four, overlapping
        return outside_printable_ascii(std::uint64_t{load<std::uint32_t>(bytes, 0)} << 32 |
                                       load<std::uint32_t>(bytes, size - 4)) != 0;
    }
    bool found = false;
    for (const char c : bytes) {
        found |= static_cast<unsigned char>(c - 0x20) >= 0x7F - 0x20;
    }
    return found;
}

}  // namespace

std::vector<LikelyMistake> likely_mistakes(const InputSigns& signs, bool image_has_words) {
    std::vector<LikelyMistake> mistakes;
    if (starts_with(signs.start, "\xEF\xBB\xBF")) {
        mistakes.push_back(LikelyMistake::utf8_byte_order_mark);
    }
    if (starts_with(signs.start, "\xFF\xFE") || starts_with(signs.start, "\xFE\xFF") || looks_like_utf16(signs.start)) {
        mistakes.push_back(LikelyMistake::utf16);
    }
    if (signs.lone_carriage_returns > signs.line_feeds) {
        mistakes.push_back(LikelyMistake::cr_line_ends);
    }
    if (signs.ctrl_z_line != 0) {
        mistakes.push_back(LikelyMistake::ctrl_z_ends_early);
    }
    if (signs.lines_with_text == 0 && signs.ctrl_z_line == 0) {
        mistakes.push_back(LikelyMistake::empty);
    } else if (!image_has_words) {
        mistakes.push_back(LikelyMistake::no_word_in_image);
    }
    return mistakes;
}

std::string_view describe(LikelyMistake mistake) {
    switch (mistake) {
        case LikelyMistake::utf8_byte_order_mark:
            return "starts with a UTF-8 byte order mark (EF BB BF), which becomes part of its first word; "
                   "save it without one";
        case LikelyMistake::utf16:
            return "looks like UTF-16 text, whose 0x00 bytes cut every word short; save it as 8-bit text";
        case LikelyMistake::cr_line_ends:
            return "has lines ending in CR alone, which is no line end here, so lines run together; "
                   "end them in LF or CR LF";
        case LikelyMistake::ctrl_z_ends_early:
            return "has a Ctrl-Z byte (0x1A) that ends the list early: nothing after it is read; remove it";
        case LikelyMistake::empty:
            return "is empty or blank, so the image holds no words";
        case LikelyMistake::no_word_in_image:
            return "gives no word of 2 to 29 characters, so the image holds no words";
    }
    return {};
}

bool unprintable_word(const Line& line) {
    // A line without bytes outside is a printable word as it is: its entry
    // ends at a 0x00 and trimming takes CRs and LFs, all of them outside.
    if (line.fate != LineFate::kept || !outside_printable_ascii(line.text)) {
        return false;
    }
    const std::string_view word = line.stored();
    return word.size() >= dicttools::kMinWordLength && outside_printable_ascii(word);
}

void UnprintableWords::line(const Line& line) {
    if (unprintable_word(line) && count_++ == 0) {
        first_line_ = line.number;
        first_ = line.stored();
    }
}

std::string describe(const UnprintableWords& words) {
    return "has " + std::to_string(words.count()) + (words.count() == 1 ? " word" : " words") +
           " with bytes outside printable ASCII, stored as they are; the first is on line " +
           std::to_string(words.first_line()) + ": \"" + dicttools::printable(words.first()) + "\"";
}

}  // namespace dictbuild
