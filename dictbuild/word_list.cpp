#include "word_list.hpp"

#include <algorithm>

#include "image_layout.hpp"

namespace dictbuild {

namespace {

constexpr char kEndOfFile = '\x1a';

}  // namespace

WordList read_word_list(std::string_view source) {
    source = source.substr(0, source.find(kEndOfFile));

    WordList list;
    const auto line_ends = static_cast<std::size_t>(std::count(source.begin(), source.end(), '\n'));
    list.entries.reserve(std::min(kMaxEntries, line_ends + 1));

    std::size_t pos = 0;
    while (pos < source.size()) {
        const std::size_t lf = source.find('\n', pos);
        const bool has_line_end = lf != std::string_view::npos;
        const std::size_t end = has_line_end ? lf : source.size();
        std::string_view line = source.substr(pos, end - pos);
        pos = has_line_end ? lf + 1 : source.size();

        if (has_line_end && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);  // the CR of a CR LF pair
        }
        if (line.size() > dicttools::kMaxWordLength) {
            continue;
        }
        const std::string_view entry = line.substr(0, line.find('\0'));
        if (!list.entries.empty() && list.entries.back() == entry) {
            continue;
        }
        if (list.entries.size() == kMaxEntries) {
            list.truncated = true;  // a word that would have been kept is lost
            break;
        }
        list.entries.push_back(entry);
    }
    return list;
}

}  // namespace dictbuild
