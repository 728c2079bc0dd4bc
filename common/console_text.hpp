// Writing the programs' messages: each reaches the console as soon as it is
// printed, also one without a line end or ending in a carriage return.
#pragma once

#include <ostream>
#include <string_view>

namespace dicttools {

inline void say(std::ostream& console, std::string_view text) { console << text << std::flush; }

}  // namespace dicttools
