// Whole-file input and crash-safe whole-file output for the builder.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>

namespace dictbuild {

/// A file could not be read or written; what() names the file and gives
/// the system's reason.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct FileContents {
    enum class Status { ok, cannot_open, cannot_read };
    Status status = Status::ok;
    std::string bytes;   // the whole file when status is ok
    std::string reason;  // the system's reason otherwise
};

/// Reads a whole file in binary. A file that cannot be opened gives
/// cannot_open; one that opens but fails while being read (a folder, an
/// I/O error) gives cannot_read.
FileContents read_file(const std::filesystem::path& path);

/// New contents for a file, written in full beside it under a temporary
/// name, flushed to the disk and closed, and waiting to replace it.
/// Until commit() succeeds the target is untouched; a pending file that is
/// destroyed uncommitted removes its temporary.
class PendingFile {
public:
    /// Writes `bytes` to the temporary file. Throws FileError, leaving
    /// nothing behind, when any step fails.
    PendingFile(std::filesystem::path target, std::span<const std::uint8_t> bytes);
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();

    /// Renames the temporary over the target, replacing any earlier file.
    /// Throws FileError when that fails; the target is then as it was.
    void commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    bool committed_ = false;
};

/// Makes everything written to `stream` durable on its device. Returns
/// false, with errno set, when the system refuses. (One per platform.)
bool sync_to_disk(std::FILE* stream);

}  // namespace dictbuild
