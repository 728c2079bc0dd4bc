// Entry tables from strings and back, for the tests of dictbuild's stages.
#pragma once

#include <string>
#include <vector>

#include "word_list.hpp"

namespace testing_support {

inline dictbuild::EntryTable table_of(const std::vector<std::string>& words) {
    dictbuild::EntryTable table;
    for (const std::string& word : words) {
        table.push_back(word);
    }
    return table;
}

inline std::vector<std::string> strings_of(const dictbuild::EntryTable& table) {
    std::vector<std::string> strings;
    for (std::size_t i = 0; i < table.size(); ++i) {
        strings.emplace_back(table[i]);
    }
    return strings;
}

}  // namespace testing_support
