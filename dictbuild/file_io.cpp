#include "file_io.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <system_error>
#include <utility>

namespace dictbuild {

namespace {

struct FileCloser {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

std::string system_reason() { return std::strerror(errno); }

FileError write_error(const std::filesystem::path& target, const std::string& reason) {
    return FileError("Could not write " + target.filename().string() + ": " + reason);
}

/// A fresh name beside `target`, such as ".dic.bin.tmp-3fa9c2e1".
std::filesystem::path temporary_name_for(const std::filesystem::path& target) {
    static std::mt19937 generator{std::random_device{}()};
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(generator()));
    return target.parent_path() / ("." + target.filename().string() + ".tmp-" + suffix);
}

}  // namespace

FileContents read_file(const std::filesystem::path& path) {
    FileContents contents;
    const FileHandle stream{std::fopen(path.string().c_str(), "rb")};
    if (!stream) {
        contents.status = FileContents::Status::cannot_open;
        contents.reason = system_reason();
        return contents;
    }
    std::error_code ignored;
    const auto expected_size = std::filesystem::file_size(path, ignored);
    if (!ignored) {
        contents.bytes.reserve(static_cast<std::size_t>(expected_size));
    }
    char chunk[65536];
    std::size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, stream.get())) > 0) {
        contents.bytes.append(chunk, count);
    }
    if (std::ferror(stream.get())) {
        contents.status = FileContents::Status::cannot_read;
        contents.reason = system_reason();
        contents.bytes.clear();
    }
    return contents;
}

PendingFile::PendingFile(std::filesystem::path target, std::span<const std::uint8_t> bytes)
    : target_(std::move(target)) {
    FileHandle stream;
    for (int attempt = 0; attempt < 16 && !stream; ++attempt) {
        temporary_ = temporary_name_for(target_);
        stream.reset(std::fopen(temporary_.string().c_str(), "wbx"));  // never reuse a name
        if (!stream && errno != EEXIST) {
            break;
        }
    }
    if (!stream) {
        throw write_error(target_, system_reason());
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stream.get()) == bytes.size() &&
                         std::fflush(stream.get()) == 0 && sync_to_disk(stream.get());
    std::string reason = written ? std::string() : system_reason();
    const bool closed = std::fclose(stream.release()) == 0;
    if (written && !closed) {
        reason = system_reason();
    }
    if (!written || !closed) {
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
        throw write_error(target_, reason);
    }
}

PendingFile::~PendingFile() {
    if (!committed_) {
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
    }
}

void PendingFile::commit() {
    std::error_code error;
    std::filesystem::rename(temporary_, target_, error);
    if (error) {
        throw write_error(target_, error.message());
    }
    committed_ = true;
}

}  // namespace dictbuild
