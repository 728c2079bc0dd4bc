// POSIX: exclusive creation and fsync of the descriptor behind a stdio stream.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "file_io.hpp"

namespace dicttools {

std::FILE* create_new_file(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        ::close(fd);
    }
    return stream;
}

bool sync_to_disk(std::FILE* stream) { return ::fsync(::fileno(stream)) == 0; }

}  // namespace dicttools
