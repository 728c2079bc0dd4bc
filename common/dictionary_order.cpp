#include "dictionary_order.hpp"

#include <algorithm>
#include <cstddef>

namespace dicttools {

int compare_case_insensitive(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char x = fold_case(a[i]);
        const unsigned char y = fold_case(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

bool dictionary_less(std::string_view a, std::string_view b) {
    const int folded = compare_case_insensitive(a, b);
    return folded != 0 ? folded < 0 : a < b;  // string_view compares bytes as unsigned
}

}  // namespace dicttools
