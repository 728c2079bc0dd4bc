#include "without_progress.hpp"

namespace flashprog {

WithoutProgress::int_type WithoutProgress::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    const char byte = traits_type::to_char_type(c);
    if (byte == '\r') {
        line_.clear();  // a progress line: left out
    } else {
        line_ += byte;
        if (byte == '\n') {
            to_ << line_;
            line_.clear();
        }
    }
    return to_ ? c : traits_type::eof();
}

int WithoutProgress::sync() {
    to_ << line_;
    line_.clear();
    return to_.flush() ? 0 : -1;
}

}  // namespace flashprog
