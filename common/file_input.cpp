#include "file_input.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>

namespace dicttools {

namespace {

struct FileCloser {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

/// The bytes of the open `stream`, up to `limit`; `path` for its size.
FileContents read_stream(std::FILE* stream, const std::filesystem::path& path, std::size_t limit) {
    FileContents contents;
    std::error_code ignored;
    const auto expected_size = std::filesystem::file_size(path, ignored);
    if (!ignored) {
        contents.bytes.reserve(static_cast<std::size_t>(std::min<std::uintmax_t>(expected_size, limit)));
    }
    char chunk[65536];
    while (contents.bytes.size() < limit) {
        const std::size_t wanted = std::min(sizeof chunk, limit - contents.bytes.size());
        const std::size_t count = std::fread(chunk, 1, wanted, stream);
        if (count == 0) {
            break;
        }
        contents.bytes.append(chunk, count);
    }
    if (std::ferror(stream)) {
        contents.status = FileContents::Status::cannot_read;
        contents.reason = std::strerror(errno);
        contents.bytes.clear();
    }
    return contents;
}

}  // namespace

FileContents read_file(const std::filesystem::path& path, std::size_t limit) {
    const FileHandle stream{std::fopen(path.string().c_str(), "rb")};
    if (!stream) {
        // A folder opens as a file on POSIX (and fails when read) but not on
        // Windows: say the same of it everywhere.
        FileContents contents;
        std::error_code ignored;
        const bool folder = std::filesystem::is_directory(path, ignored);
        contents.status = folder ? FileContents::Status::cannot_read : FileContents::Status::cannot_open;
        contents.reason = folder ? std::strerror(EISDIR) : std::strerror(errno);
        return contents;
    }
    return read_stream(stream.get(), path, limit);
}

FileContents read_regular_file(const std::filesystem::path& path, std::size_t limit) {
    FileContents refusal;
    const FileHandle stream{open_regular_file(path, refusal)};
    return stream ? read_stream(stream.get(), path, limit) : refusal;
}

}  // namespace dicttools
