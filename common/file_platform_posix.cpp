// POSIX: exclusive creation, files without a name (Linux's O_TMPFILE),
// processes told by their start time (Linux's /proc), space set aside,
// fsync of files and folders, rename, and the folder lock (flock on the
// folder itself).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "file_input.hpp"
#include "file_platform.hpp"
#include "file_reader.hpp"
#include "file_replacement.hpp"

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

#ifdef O_TMPFILE
constexpr int kUnnamed = O_TMPFILE;
#else
constexpr int kUnnamed = 0;  // no files without a name on this system
#endif

/// The name under which /proc shows the file open as `fd`.
std::string proc_fd_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

struct ProcessState {
    bool known = false;  // whether /proc told it
    bool zombie = false;
    std::uint64_t start = 0;  // clock ticks after boot
};

/// What /proc/`pid`/stat says of the process: its state is field 3 and its
/// start time field 22, counted after the name in parentheses.
ProcessState state_of(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/stat");
    std::string line;
    if (!std::getline(in, line)) {
        return {};
    }
    const std::size_t name_end = line.rfind(')');
    if (name_end == std::string::npos) {
        return {};
    }
    std::istringstream fields(line.substr(name_end + 1));
    std::string state;
    std::string skipped;
    fields >> state;
    for (int field = 4; field < 22; ++field) {
        fields >> skipped;
    }
    ProcessState process;
    if (fields >> process.start) {
        process.known = true;
        process.zombie = state == "Z";
    }
    return process;
}

/// Sleeps for `interval` or until a signal comes, whichever is first.
void pause_for(std::chrono::milliseconds interval) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(interval);
    const timespec pause{static_cast<std::time_t>(seconds.count()),
                         static_cast<long>(std::chrono::nanoseconds(interval - seconds).count())};
    ::nanosleep(&pause, nullptr);  // a signal ends it with EINTR
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

std::FILE* create_unnamed_file(const std::filesystem::path& folder) {
    if (kUnnamed == 0) {
        errno = ENOTSUP;
        return nullptr;
    }
    const int fd = ::open(folder.c_str(), kUnnamed | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;  // EOPNOTSUPP, EISDIR or EINVAL where the file system or kernel has none
    }
    struct stat link {};
    if (::lstat(proc_fd_path(fd).c_str(), &link) != 0) {
        ::close(fd);  // without /proc it could never be named
        errno = ENOTSUP;
        return nullptr;
    }
    std::FILE* stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        ::close(fd);
    }
    return stream;
}

std::error_code name_unnamed_file(std::FILE* stream, const std::filesystem::path& path) {
    const std::string open_file = proc_fd_path(::fileno(stream));
    if (::linkat(AT_FDCWD, open_file.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        return last_error();
    }
    return {};
}

ProcessStamp this_process() {
    const ProcessState state = state_of("self");
    return {static_cast<std::uint64_t>(::getpid()), state.known ? state.start : 0};
}

bool process_ended(const ProcessStamp& process) {
    const auto pid = static_cast<pid_t>(process.id);
    if (pid <= 0 || static_cast<std::uint64_t>(pid) != process.id) {
        return false;  // no id of this system: unsure
    }
    if (::kill(pid, 0) != 0 && errno == ESRCH) {
        return true;
    }
    const ProcessState state = state_of(std::to_string(pid));
    // A zombie touches no file again; another start time is another process.
    return state.known && (state.zombie || (process.start != 0 && state.start != process.start));
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
    // Tried again after each pause rather than waited for in flock(): a
    // signal that came before the wait began would not end that.
    for (bool announced = false;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return lock;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            if (not_offered(errno)) {
                return lock;
            }
            error = last_error();
            return {};
        }
        if (stop.requested()) {
            return {};
        }
        if (!announced && waiting) {
            waiting();
        }
        announced = true;
        pause_for(kStopCheckInterval);
    }
}

void FolderLock::release() {
    if (handle_ >= 0) {
        ::close(static_cast<int>(handle_));
    }
    handle_ = kNone;
}

bool use_binary_mode(std::FILE*) { return true; }  // bytes are read as they are

}  // namespace dicttools
