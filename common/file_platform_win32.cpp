// Windows: exclusive creation and commit of the handle behind a stdio stream.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>

#include "file_io.hpp"

namespace dicttools {

std::FILE* create_new_file(const std::filesystem::path& path) {
    const int fd = ::_wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* stream = ::_fdopen(fd, "wb");
    if (stream == nullptr) {
        ::_close(fd);
    }
    return stream;
}

bool sync_to_disk(std::FILE* stream) { return ::_commit(::_fileno(stream)) == 0; }

}  // namespace dicttools
