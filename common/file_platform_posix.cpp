// POSIX: exclusive creation, space set aside, fsync of files and folders,
// rename, and the folder lock (flock on the folder itself).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "file_io.hpp"

namespace dicttools {

namespace {

std::error_code last_error() { return {errno, std::generic_category()}; }

/// Whether the folder lock or sync failed only because this folder or its
/// file system offers none to this user (a folder that may be written but
/// not read, a network file system without locks): then the work goes on
/// without it.
bool not_offered(int error) {
    return error == EACCES || error == ENOLCK || error == EINVAL || error == ENOTSUP || error == EOPNOTSUPP;
}

/// Writes zeros into `fd` from its end up to `bytes`, without moving its
/// position: what an allocation does where the file system has none.
bool write_zeros_up_to(int fd, off_t bytes) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        return false;
    }
    static const char zeros[65536] = {};
    for (off_t at = status.st_size; at < bytes;) {
        const auto wanted = static_cast<std::size_t>(std::min<off_t>(bytes - at, sizeof zeros));
        const ssize_t written = ::pwrite(fd, zeros, wanted, at);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        at += written;
    }
    return true;
}

/// Why a file of mode `mode` is not read as a regular file.
std::string not_regular(mode_t mode) {
    if (S_ISDIR(mode)) {
        return std::strerror(EISDIR);
    }
    const char* kind = S_ISFIFO(mode) ? "a FIFO" : S_ISSOCK(mode) ? "a socket" : "a device";
    return std::string(kind) + ", not a regular file";
}

}  // namespace

std::FILE* open_regular_file(const std::filesystem::path& path, FileContents& refusal) {
    // Looked at before it is opened: opening a device can act on it.
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        refusal = {FileContents::Status::cannot_read, {}, not_regular(status.st_mode)};
        return nullptr;
    }
    // Without waiting, should it have become a FIFO since.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        refusal = {FileContents::Status::cannot_open, {}, std::strerror(errno)};
        return nullptr;
    }
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        refusal = {FileContents::Status::cannot_read,
                   {},
                   S_ISREG(status.st_mode) ? std::strerror(errno) : not_regular(status.st_mode)};
        ::close(fd);
        return nullptr;
    }
    std::FILE* stream = ::fdopen(fd, "rb");
    if (stream == nullptr) {
        refusal = {FileContents::Status::cannot_open, {}, std::strerror(errno)};
        ::close(fd);
    }
    return stream;
}

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

bool reserve_space(std::FILE* stream, std::uintmax_t bytes) {
    if (std::fflush(stream) != 0) {
        return false;
    }
    if (bytes == 0) {
        return true;
    }
    if (bytes > static_cast<std::uintmax_t>(std::numeric_limits<off_t>::max())) {
        errno = EFBIG;
        return false;
    }
    const int fd = ::fileno(stream);
    const int error = ::posix_fallocate(fd, 0, static_cast<off_t>(bytes));
    if (error == 0) {
        return true;
    }
    if (error != EOPNOTSUPP && error != ENOSYS) {
        errno = error;
        return false;
    }
    return write_zeros_up_to(fd, static_cast<off_t>(bytes));
}

bool cut_at_position(std::FILE* stream) {
    if (std::fflush(stream) != 0) {
        return false;
    }
    const off_t end = ::ftello(stream);
    return end >= 0 && ::ftruncate(::fileno(stream), end) == 0;
}

bool sync_to_disk(std::FILE* stream) { return ::fsync(::fileno(stream)) == 0; }

bool copy_permissions(std::FILE* stream, const std::filesystem::path& original) {
    struct stat status {};
    if (::stat(original.c_str(), &status) != 0) {
        return true;  // no earlier file: the new one gets the usual mode
    }
    // The owner first: a change of owner may clear the set-user-ID bits.
    if (::fchown(::fileno(stream), status.st_uid, status.st_gid) != 0) {
        // Not this user's to give away: the new file stays this user's.
    }
    return ::fchmod(::fileno(stream), status.st_mode & 07777) == 0;
}

bool link_removable(const std::filesystem::path& file) {
    struct stat file_status {};
    struct stat folder_status {};
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
    if (::stat(file.c_str(), &file_status) != 0 || ::stat(folder.c_str(), &folder_status) != 0) {
        return false;  // unsure: a copy is always this user's
    }
    return may_remove_name((folder_status.st_mode & S_ISVTX) != 0, folder_status.st_uid, file_status.st_uid,
                           ::geteuid());
}

std::error_code move_replacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? std::error_code() : last_error();
}

std::error_code sync_folder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return not_offered(errno) ? std::error_code() : last_error();
    }
    std::error_code error;
    if (::fsync(fd) != 0 && !not_offered(errno)) {
        error = last_error();
    }
    ::close(fd);
    return error;
}

FolderLock FolderLock::acquire(const std::filesystem::path& folder, const StopRequest& stop, std::error_code& error,
                               const std::function<void()>& waiting) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        if (!not_offered(errno)) {
            error = last_error();
            return {};
        }
        return FolderLock(kNotOffered);
    }
    FolderLock lock(fd);  // closing the folder releases its lock
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        return lock;
    }
    if (errno == EWOULDBLOCK && waiting) {
        waiting();
    }
    // An interrupt (no SA_RESTART) ends the wait with EINTR.
    while (::flock(fd, LOCK_EX) != 0) {
        if (not_offered(errno)) {
            return lock;
        }
        if (errno != EINTR) {
            error = last_error();
            return {};
        }
        if (stop.requested()) {
            return {};
        }
    }
    return lock;
}

void FolderLock::release() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
    }
    handle_ = kNone;
}

}  // namespace dicttools
