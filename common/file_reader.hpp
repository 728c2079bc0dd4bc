// Reading a file from start to end in pieces, through one buffer of fixed
// size, so that a file of any size takes the same memory.
#pragma once

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "interrupts.hpp"

namespace dicttools {

class FileReader {
public:
    enum class Status {
        reading,      // more may come
        ended,        // the whole file has been read
        cannot_open,  // the file cannot be opened (reason() says why)
        cannot_read,  // it opened but a read failed, or it is a folder (reason() says why)
        interrupted,  // a stop was requested while opening waited (a pipe without writer)
    };

    static constexpr std::size_t kDefaultPieceSize = 65536;

    /// Opens `path` for reading in binary; status() says whether it could.
    /// An open that a signal interrupts is tried again, unless `stop` (if
    /// any) was requested: then status() is `interrupted`.
    explicit FileReader(const std::filesystem::path& path, std::size_t piece_size = kDefaultPieceSize,
                        const StopRequest* stop = nullptr);
    /// Reads standard input, in binary, from where it stands; leaves it open.
    struct StandardInput {};
    explicit FileReader(StandardInput, std::size_t piece_size = kDefaultPieceSize);
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    ~FileReader();

    /// The next bytes of the file, at most the piece size; valid until the
    /// next call. Empty at the end of the file and after a failure, which
    /// status() then reports, and also when a signal interrupted the read:
    /// status() is then still `reading` and the caller may ask again.
    std::string_view next();

    Status status() const { return status_; }
    const std::string& reason() const { return reason_; }

private:
    std::FILE* stream_ = nullptr;
    bool owns_stream_ = true;
    std::unique_ptr<char[]> piece_;
    std::size_t piece_size_;
    Status status_ = Status::reading;
    std::string reason_;
};

/// Makes `stream` read and write bytes as they are, with no line ends or
/// Ctrl-Z translated; false when it cannot. (One implementation per
/// platform file.)
bool use_binary_mode(std::FILE* stream);

}  // namespace dicttools
