#include "file_io.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <random>
#include <system_error>
#include <utility>

namespace dicttools {

namespace {

struct FileCloser {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

std::string system_reason() { return std::strerror(errno); }

/// A fresh name beside `target`, such as ".dic.bin.tmp-3fa9c2e1".
std::filesystem::path temporary_name_for(const std::filesystem::path& target) {
    static std::mt19937 generator{std::random_device{}()};
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(generator()));
    return target.parent_path() / ("." + target.filename().string() + ".tmp-" + suffix);
}

}  // namespace

FileContents read_file(const std::filesystem::path& path, std::size_t limit) {
    FileContents contents;
    const FileHandle stream{std::fopen(path.string().c_str(), "rb")};
    if (!stream) {
        // A folder opens as a file on POSIX (and fails when read) but not on
        // Windows: say the same of it everywhere.
        std::error_code ignored;
        const bool folder = std::filesystem::is_directory(path, ignored);
        contents.status = folder ? FileContents::Status::cannot_read : FileContents::Status::cannot_open;
        contents.reason = folder ? std::strerror(EISDIR) : system_reason();
        return contents;
    }
    std::error_code ignored;
    const auto expected_size = std::filesystem::file_size(path, ignored);
    if (!ignored) {
        contents.bytes.reserve(static_cast<std::size_t>(std::min<std::uintmax_t>(expected_size, limit)));
    }
    char chunk[65536];
    while (contents.bytes.size() < limit) {
        const std::size_t wanted = std::min(sizeof chunk, limit - contents.bytes.size());
        const std::size_t count = std::fread(chunk, 1, wanted, stream.get());
        if (count == 0) {
            break;
        }
        contents.bytes.append(chunk, count);
    }
    if (std::ferror(stream.get())) {
        contents.status = FileContents::Status::cannot_read;
        contents.reason = system_reason();
        contents.bytes.clear();
    }
    return contents;
}

FileReplacement::FileReplacement(std::filesystem::path target) : target_(std::move(target)) {
    for (int attempt = 0; attempt < 16 && stream_ == nullptr; ++attempt) {
        temporary_ = temporary_name_for(target_);
        stream_ = create_new_file(temporary_);  // never reuse an existing name
        if (stream_ == nullptr && errno != EEXIST) {
            break;
        }
    }
    if (stream_ == nullptr) {
        temporary_.clear();
        fail(system_reason());
    }
}

FileReplacement::~FileReplacement() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
    }
    if (!committed_ && !temporary_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
    }
}

void FileReplacement::write(std::span<const std::uint8_t> bytes) {
    if (stream_ == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size()) {
        fail(stream_ == nullptr ? "already closed" : system_reason());
    }
}

void FileReplacement::finish() {
    if (stream_ == nullptr) {
        return;
    }
    const bool written = std::fflush(stream_) == 0 && sync_to_disk(stream_);
    std::string reason = written ? std::string() : system_reason();
    const bool closed = std::fclose(std::exchange(stream_, nullptr)) == 0;
    if (written && !closed) {
        reason = system_reason();
    }
    if (!written || !closed) {
        fail(reason);
    }
}

void FileReplacement::commit() {
    finish();
    std::error_code error;
    std::filesystem::rename(temporary_, target_, error);
    if (error) {
        fail(error.message());
    }
    committed_ = true;
}

void FileReplacement::fail(const std::string& reason) {
    throw FileError("Could not write " + target_.filename().string() + ": " + reason);
}

}  // namespace dicttools
