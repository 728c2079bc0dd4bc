// Whole-file input and crash-safe file output, shared by the programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <span>
#include <stdexcept>
#include <string>

namespace dicttools {

/// A file could not be read or written; what() names the file and gives
/// the system's reason.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct FileContents {
    enum class Status { ok, cannot_open, cannot_read };
    Status status = Status::ok;
    std::string bytes;   // the file's bytes (at most the limit) when status is ok
    std::string reason;  // the system's reason otherwise
};

/// Reads a file in binary, up to `limit` bytes. A file that cannot be
/// opened gives cannot_open; one that opens but fails while being read (a
/// folder, an I/O error) gives cannot_read.
FileContents read_file(const std::filesystem::path& path, std::size_t limit = std::numeric_limits<std::size_t>::max());

/// New contents for a file, written beside it under a temporary name and
/// put in its place only by commit(): until then the target is untouched,
/// and a replacement destroyed uncommitted removes its temporary. Every
/// failure throws FileError naming the target and the system's reason.
class FileReplacement {
public:
    /// Creates the temporary file.
    explicit FileReplacement(std::filesystem::path target);
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;
    ~FileReplacement();

    /// Appends bytes to the temporary file (buffered).
    void write(std::span<const std::uint8_t> bytes);
    /// Flushes the temporary file to the disk and closes it.
    void finish();
    /// finish() if not done yet, then renames the temporary over the
    /// target, replacing any earlier file.
    void commit();

private:
    [[noreturn]] void fail(const std::string& reason);

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::FILE* stream_ = nullptr;
    bool committed_ = false;
};

// One implementation of each per platform file:

/// Creates `path` for binary writing; fails (null, errno set) when it
/// exists already.
std::FILE* create_new_file(const std::filesystem::path& path);

/// Makes everything written to `stream` durable on its device. Returns
/// false, with errno set, when the system refuses.
bool sync_to_disk(std::FILE* stream);

}  // namespace dicttools
