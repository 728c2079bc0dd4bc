// Windows: suggested commands are for the command prompt.
#include "shell_words.hpp"

namespace dicttools {

Shell platform_shell() { return Shell::windows; }

}  // namespace dicttools
