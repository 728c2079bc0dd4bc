// Windows: exclusive creation (no file goes without a name here), processes
// told by their creation time, space set aside, commit of files,
// written-through moves, and the folder lock (a named mutex).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>

#include "file_input.hpp"
#include "file_platform.hpp"
#include "file_reader.hpp"
#include "file_replacement.hpp"

namespace dicttools {

namespace {

std::error_code last_error() { return {static_cast<int>(::GetLastError()), std::system_category()}; }

/// The mutex name for `folder`: the same for every spelling of its full
/// path (names are case-insensitive), and free of backslashes, which a
/// mutex name may not hold.
std::wstring mutex_name_for(const std::filesystem::path& folder) {
    std::uint64_t hash = 0xcbf29ce484222325;  // FNV-1a
    for (const wchar_t c : folder.wstring()) {
        hash = (hash ^ static_cast<std::uint64_t>(std::towlower(c))) * 0x100000001b3;
    }
    wchar_t hex[17];
    std::swprintf(hex, sizeof hex / sizeof hex[0], L"%016llx", static_cast<unsigned long long>(hash));
    return std::wstring(L"Local\\dicttools-folder-") + hex;
}

}  // namespace

std::FILE* open_regular_file(const std::filesystem::path& path, FileContents& refusal) {
    std::error_code ignored;
    const std::filesystem::file_type type = std::filesystem::status(path, ignored).type();
    if (type == std::filesystem::file_type::directory) {
        refusal = {FileContents::Status::cannot_read, {}, std::strerror(EISDIR)};
        return nullptr;
    }
    if (type != std::filesystem::file_type::regular && type != std::filesystem::file_type::not_found &&
        type != std::filesystem::file_type::none) {
        refusal = {FileContents::Status::cannot_read, {}, "not a regular file"};
        return nullptr;
    }
    std::FILE* stream = ::_wfopen(path.c_str(), L"rb");
    if (stream == nullptr) {
        refusal = {FileContents::Status::cannot_open, {}, std::strerror(errno)};
    }
    return stream;
}

std::FILE* create_new_file(const std::filesystem::path& path) {
    const int fd = ::_wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* stream = ::_fdopen(fd, "wb");
    if (stream == nullptr) {
        ::_close(fd);
    }
    return stream;
}

std::FILE* create_unnamed_file(const std::filesystem::path& /*folder*/) {
    errno = ENOTSUP;
    return nullptr;
}

std::error_code name_unnamed_file(std::FILE* /*stream*/, const std::filesystem::path& /*path*/) {
    return std::make_error_code(std::errc::not_supported);
}

namespace {

/// When `process` was created, or 0 when the system does not say.
std::uint64_t creation_time(HANDLE process) {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return 0;
    }
    return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

}  // namespace

ProcessStamp this_process() { return {::GetCurrentProcessId(), creation_time(::GetCurrentProcess())}; }

bool process_ended(const ProcessStamp& process) {
    if (process.id > 0xFFFFFFFFU) {
        return false;  // no id of this system: unsure
    }
    const HANDLE handle = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(process.id));
    if (handle == nullptr) {
        return ::GetLastError() == ERROR_INVALID_PARAMETER;  // no such process; else not ours to look at
    }
    const std::uint64_t created = creation_time(handle);
    const bool ended = ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0 ||
                       (created != 0 && process.start != 0 && created != process.start);
    ::CloseHandle(handle);
    return ended;
}

bool reserve_space(std::FILE* stream, std::uintmax_t bytes) {
    if (std::fflush(stream) != 0) {
        return false;
    }
    const int fd = ::_fileno(stream);
    const __int64 size = ::_filelengthi64(fd);
    if (size < 0) {
        return false;
    }
    if (static_cast<std::uintmax_t>(size) >= bytes) {
        return true;
    }
    // A file made longer is given its clusters at once, or refused.
    const errno_t error = ::_chsize_s(fd, static_cast<__int64>(bytes));
    if (error != 0) {
        errno = error;
        return false;
    }
    return true;
}

bool cut_at_position(std::FILE* stream) {
    if (std::fflush(stream) != 0) {
        return false;
    }
    const __int64 end = ::_ftelli64(stream);
    if (end < 0) {
        return false;
    }
    const errno_t error = ::_chsize_s(::_fileno(stream), end);
    if (error != 0) {
        errno = error;
        return false;
    }
    return true;
}

bool sync_to_disk(std::FILE* stream) { return ::_commit(::_fileno(stream)) == 0; }

bool copy_permissions(std::FILE* /*stream*/, const std::filesystem::path& /*original*/) { return true; }

bool link_removable(const std::filesystem::path& /*file*/) { return true; }

std::error_code move_replacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    const bool moved = ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    return moved ? std::error_code() : last_error();
}

std::error_code sync_folder(const std::filesystem::path& /*folder*/) { return {}; }

FolderLock FolderLock::acquire(const std::filesystem::path& folder, const StopRequest& stop, std::error_code& error,
                               const std::function<void()>& waiting) {
    const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, mutex_name_for(folder).c_str());
    if (mutex == nullptr) {
        error = last_error();
        return {};
    }
    constexpr auto kStopCheckMs = static_cast<DWORD>(kStopCheckInterval.count());  // how often a wait looks at `stop`
    for (DWORD wait_ms = 0;; wait_ms = kStopCheckMs) {                             // the first look does not wait
        switch (::WaitForSingleObject(mutex, wait_ms)) {
            case WAIT_OBJECT_0:
            case WAIT_ABANDONED:  // its holder ended without releasing it
                return FolderLock(reinterpret_cast<std::intptr_t>(mutex));
            case WAIT_TIMEOUT:
                if (stop.requested()) {
                    ::CloseHandle(mutex);
                    return {};
                }
                if (wait_ms == 0 && waiting) {
                    waiting();
                }
                continue;
            default:
                error = last_error();
                ::CloseHandle(mutex);
                return {};
        }
    }
}

void FolderLock::release() {
    if (handle_ != kNone && handle_ != kNotOffered) {
        const HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
        ::ReleaseMutex(mutex);
        ::CloseHandle(mutex);
        handle_ = kNone;
    }
}

bool use_binary_mode(std::FILE* stream) { return ::_setmode(::_fileno(stream), _O_BINARY) != -1; }

}  // namespace dicttools
