#include "list_check.hpp"

#include <algorithm>
#include <utility>

#include "entry_sort.hpp"

namespace dictinfo {

namespace {

using dicttools::kImageSize;

std::size_t non_empty(const dictbuild::EntryTable& table) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        count += table[i].empty() ? 0 : 1;
    }
    return count;
}

}  // namespace

void LineTally::line(const dictbuild::Line& line) {
    using dictbuild::LineFate;
    ++counts_.lines;
    if (line.fate == LineFate::too_long) {
        if (counts_.too_long++ < LineCounts::kListed) {
            counts_.too_long_lines.push_back(line.number);
        }
        return;
    }
    if (line.entry().size() < line.length && counts_.cut_at_nul++ < LineCounts::kListed) {
        counts_.cut_at_nul_lines.push_back(line.number);
    }
    switch (line.fate) {
        case LineFate::duplicate:
            ++counts_.duplicates;
            break;
        case LineFate::beyond_table:
            counts_.beyond_table = line.number;
            return;
        case LineFate::kept:
            ++counts_.kept;
            if (dictbuild::unprintable_word(line) && counts_.not_printable++ < LineCounts::kListed) {
                counts_.not_printable_lines.push_back({line.number, std::string(line.stored())});
            }
            break;
        case LineFate::too_long:
        case LineFate::no_word_past_table:
            break;
    }
    const std::string_view word = line.stored();
    counts_.blank += word.empty() ? 1 : 0;
    counts_.one_character += word.size() == 1 ? 1 : 0;
}

ListReport check_word_list(dictbuild::WordList list, const LineCounts& lines) {
    ListReport report;
    report.lines = lines;
    report.truncated = list.truncated;

    // Trimming line ends never empties an entry, so what the clean-up
    // empties are the duplicates that sorting brought together.
    const std::size_t before = non_empty(list.entries);
    dictbuild::sort_and_clean_up(list.entries);
    report.duplicates_after_sort = before - non_empty(list.entries);

    report.packed = dictbuild::pack_image(list.entries);
    report.groups = check_image(report.packed.bytes, kImageSize).groups;
    report.mistakes =
        dictbuild::likely_mistakes(list.signs, report.packed.final_address > dicttools::kFirstGroupAddress);

    for (std::size_t i = 0; i < list.entries.size(); ++i) {
        const std::size_t length = list.entries[i].size();
        if (length >= dicttools::kMinWordLength && length <= dicttools::kMaxWordLength) {
            ++report.by_length[length].words;
        }
    }
    for (std::size_t length = dicttools::kMinWordLength; length <= dicttools::kMaxWordLength; ++length) {
        NeededGroup& group = report.by_length[length];
        if (group.words == 0) {
            continue;
        }
        const std::size_t room = kImageSize > report.needed ? kImageSize - report.needed : 0;
        group.fitting = std::min(group.words, room / length);
        report.needed += length * group.words + 1;
    }
    return report;
}

}  // namespace dictinfo
