// POSIX: suggested commands are for a POSIX shell.
#include "shell_words.hpp"

namespace dicttools {

Shell platform_shell() { return Shell::posix; }

}  // namespace dicttools
