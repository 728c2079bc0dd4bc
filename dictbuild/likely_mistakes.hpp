// Mistakes in saving a word list that make the image useless though
// nothing fails: told apart by the signs the reader collects.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "word_list.hpp"

namespace dictbuild {

enum class LikelyMistake {
    utf8_byte_order_mark,  // the list starts with EF BB BF
    utf16,                 // a UTF-16 byte order mark, or 0x00 in every other byte
    cr_line_ends,          // lines end in a lone CR, which is no line end here
    ctrl_z_ends_early,     // a 0x1A byte ends the list with more bytes after it
    empty,                 // no line holds a character (and no 0x1A hides any)
    no_word_in_image,      // lines with text, yet no word of kMinWordLength..kMaxWordLength characters
};

/// The mistakes the list shows, in the order of the enumeration, each once.
/// `image_has_words` says whether packing put any word into the image. A
/// plain list shows none.
std::vector<LikelyMistake> likely_mistakes(const InputSigns& signs, bool image_has_words);

/// What the mistake means for the image, to follow the list's name in a
/// warning ("dic.txt starts with ..."): one line, without a line end.
std::string_view describe(LikelyMistake mistake);

/// Whether `line` was kept and gives a word (of at least kMinWordLength
/// characters as stored, Line::stored()) with a byte outside printable
/// ASCII (0x20 to 0x7E): a control byte, or a byte of another encoding such
/// as UTF-8, which the image stores as it is and the unit does not show as
/// written.
bool unprintable_word(const Line& line);

/// Counts the lines that give an unprintable_word(), and keeps the first.
class UnprintableWords final : public LineObserver {
public:
    void line(const Line& line) override;

    std::size_t count() const { return count_; }
    std::size_t first_line() const { return first_line_; }  // 0 when none
    const std::string& first() const { return first_; }

private:
    std::size_t count_ = 0;
    std::size_t first_line_ = 0;
    std::string first_;
};

/// The warning about such words, to follow the list's name: how many and
/// the first with its line number, its bytes shown as dicttools::printable()
/// shows them. One line, without a line end. `words` counts at least one.
std::string describe(const UnprintableWords& words);

/// Counts the lines skipped for being longer than kMaxWordLength characters
/// (LineFate::too_long), and keeps the first one's number.
class LongLines final : public LineObserver {
public:
    void line(const Line& line) override;

    std::size_t count() const { return count_; }
    std::size_t first_line() const { return first_line_; }  // 0 when none

private:
    std::size_t count_ = 0;
    std::size_t first_line_ = 0;
};

/// The warning about such lines, to follow the list's name: how many and
/// the first one's line number. One line, without a line end. `lines`
/// counts at least one.
std::string describe(const LongLines& lines);

}  // namespace dictbuild
