#include "likely_mistakes.hpp"

#include <cstddef>
#include <string>

#include "console_text.hpp"
#include "image_layout.hpp"

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
    if (line.fate != LineFate::kept || line.printable) {
        return false;
    }
    const std::string_view word = line.stored();
    return word.size() >= dicttools::kMinWordLength && !printable_ascii(word);
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

void LongLines::line(const Line& line) {
    if (line.fate == LineFate::too_long && count_++ == 0) {
        first_line_ = line.number;
    }
}

std::string describe(const LongLines& lines) {
    return "has " + std::to_string(lines.count()) + (lines.count() == 1 ? " line" : " lines") + " of more than " +
           std::to_string(dicttools::kMaxWordLength) + " characters, left out of the image; the first is line " +
           std::to_string(lines.first_line());
}

}  // namespace dictbuild
