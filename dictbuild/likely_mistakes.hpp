// Mistakes in saving a word list that make the image useless though
// nothing fails: told apart by the signs the reader collects.
#pragma once

#include <string_view>
#include <vector>

#include "word_list.hpp"

namespace dictbuild {

enum class LikelyMistake {
    utf8_byte_order_mark,  // the list starts with EF BB BF
    utf16,                 // a UTF-16 byte order mark, or 0x00 in every other byte
    cr_line_ends,          // lines end in a lone CR, which is no line end here
    ctrl_z_ends_early,     // a 0x1A byte ends the list with more bytes after it
    no_word_in_image,      // lines with text, yet no word of kMinWordLength..kMaxWordLength characters
};

/// The mistakes the list shows, in the order of the enumeration, each once.
/// `image_has_words` says whether packing put any word into the image. A
/// plain list shows none.
std::vector<LikelyMistake> likely_mistakes(const InputSigns& signs, bool image_has_words);

/// What the mistake means for the image, to follow the list's name in a
/// warning ("dic.txt starts with ..."): one line, without a line end.
std::string_view describe(LikelyMistake mistake);

}  // namespace dictbuild
