#include "dictionary_order.hpp"

namespace dicttools {

bool dictionary_less(std::string_view a, std::string_view b) {
    const int folded = compare_case_insensitive(a, b);
    return folded != 0 ? folded < 0 : a < b;  // string_view compares bytes as unsigned
}

}  // namespace dicttools
