#include "file_reader.hpp"

#include <cerrno>
#include <cstring>
#include <system_error>

namespace dicttools {

FileReader::FileReader(const std::filesystem::path& path, std::size_t piece_size, const StopRequest* stop)
    : piece_size_(piece_size) {
    // Opening a pipe waits for a writer; a signal ends that wait.
    while ((stream_ = std::fopen(path.string().c_str(), "rb")) == nullptr && errno == EINTR) {
        if (stop != nullptr && stop->requested()) {
            status_ = Status::interrupted;
            return;
        }
    }
    if (stream_ == nullptr) {
        // A folder opens as a file on POSIX (and fails when read) but not on
        // Windows: say the same of it everywhere.
        const int reason = errno;
        std::error_code ignored;
        const bool folder = std::filesystem::is_directory(path, ignored);
        status_ = folder ? Status::cannot_read : Status::cannot_open;
        reason_ = std::strerror(folder ? EISDIR : reason);
        return;
    }
    piece_ = std::make_unique<char[]>(piece_size_);
}

FileReader::FileReader(StandardInput, std::size_t piece_size)
    : stream_(stdin), owns_stream_(false), piece_size_(piece_size) {
    if (!use_binary_mode(stream_)) {
        status_ = Status::cannot_read;
        reason_ = std::strerror(errno);
        return;
    }
    piece_ = std::make_unique<char[]>(piece_size_);
}

FileReader::~FileReader() {
    if (stream_ != nullptr && owns_stream_) {
        std::fclose(stream_);
    }
}

std::string_view FileReader::next() {
    if (status_ != Status::reading) {
        return {};
    }
    const std::size_t count = std::fread(piece_.get(), 1, piece_size_, stream_);
    if (std::ferror(stream_)) {
        if (errno == EINTR) {
            std::clearerr(stream_);  // a signal came: the caller decides whether to go on
        } else {
            status_ = Status::cannot_read;
            reason_ = std::strerror(errno);
            return {};
        }
    } else if (count == 0) {
        status_ = Status::ended;
    }
    return {piece_.get(), count};
}

}  // namespace dicttools
