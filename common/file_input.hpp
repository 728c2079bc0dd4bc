// Reading whole files into memory (the streaming reader is file_reader.hpp).
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>

namespace dicttools {

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

/// read_file() of a file that must be a regular one: it is opened without
/// waiting (a FIFO without a writer would block an ordinary open for ever),
/// and anything else (a folder, a FIFO, a socket, a device) gives
/// cannot_read with what it is as the reason.
FileContents read_regular_file(const std::filesystem::path& path,
                               std::size_t limit = std::numeric_limits<std::size_t>::max());

/// Opens `path` for binary reading, without waiting, when it is a regular
/// file; otherwise null, with `refusal` saying why (cannot_open and the
/// system's reason, or cannot_read and what kind of file it is).
/// (One implementation per platform, in file_platform_*.cpp.)
std::FILE* open_regular_file(const std::filesystem::path& path, FileContents& refusal);

}  // namespace dicttools
