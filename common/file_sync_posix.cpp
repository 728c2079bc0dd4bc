// POSIX: fsync the descriptor behind a stdio stream.
#include <unistd.h>

#include <cstdio>

#include "file_io.hpp"

namespace dicttools {

bool sync_to_disk(std::FILE* stream) { return ::fsync(::fileno(stream)) == 0; }

}  // namespace dicttools
