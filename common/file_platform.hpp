// The file-system calls that crash-safe replacement is made of, one
// implementation of each per platform (file_platform_posix.cpp,
// file_platform_win32.cpp).
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace dicttools {

/// A process as the hidden names tell it: its id, and when it started (in
/// the system's own unit, 0 where unknown), so that a later process with
/// the same id is not taken for it.
struct ProcessStamp {
    std::uint64_t id = 0;
    std::uint64_t start = 0;
};

/// Creates `path` for binary writing; fails (null, errno set) when it
/// exists already.
std::FILE* create_new_file(const std::filesystem::path& path);

/// Creates a file without a name in `folder`, for binary writing, that is
/// gone with its stream unless name_unnamed_file() names it. Null (errno
/// set) where the system or the folder's file system offers none.
std::FILE* create_unnamed_file(const std::filesystem::path& folder);

/// Gives the file of create_unnamed_file() behind `stream` the name `path`;
/// fails with file_exists when that exists already.
std::error_code name_unnamed_file(std::FILE* stream, const std::filesystem::path& path);

/// This process.
ProcessStamp this_process();

/// Whether `process` has ended (or its id now belongs to another process).
/// False when unsure: a file of a live process must never be taken for
/// one left behind.
bool process_ended(const ProcessStamp& process);

/// Sets aside `bytes` bytes of disk space from the start of the file behind
/// `stream` (POSIX: posix_fallocate, or zeros written where the file system
/// cannot allocate; Windows: the file's size set), leaving the stream's
/// position as it was. Returns false, with errno set (ENOSPC, EFBIG), when
/// the space cannot be had.
bool reserve_space(std::FILE* stream, std::uintmax_t bytes);

/// Flushes `stream` and cuts the file behind it at its position. Returns
/// false, with errno set, when the system refuses.
bool cut_at_position(std::FILE* stream);

/// Makes everything written to `stream` durable on its device. Returns
/// false, with errno set, when the system refuses.
bool sync_to_disk(std::FILE* stream);

/// Gives the file behind `stream` the permission bits of `original`, when
/// that exists (POSIX; nothing to do on Windows), and its owner and group
/// where this user may (an ordinary user cannot give files away: then they
/// stay this user's). Returns false, with errno set, when the system
/// refuses the permission bits.
bool copy_permissions(std::FILE* stream, const std::filesystem::path& original);

/// Whether this user may remove a second name of `file` made in its folder
/// again (POSIX: not in a sticky folder owned by another user, for a file
/// owned by another user; Windows: always).
bool link_removable(const std::filesystem::path& file);

/// The rule of a sticky folder (mode bit S_ISVTX): there only root, the
/// folder's owner and the file's owner may remove the file's names.
constexpr bool may_remove_name(bool sticky_folder, std::uint32_t folder_owner, std::uint32_t file_owner,
                               std::uint32_t user) {
    return !sticky_folder || user == 0 || user == folder_owner || user == file_owner;
}

/// Renames `from` over `to` in one step, replacing any file there; on
/// Windows the move is written through to the disk before it returns.
std::error_code move_replacing(const std::filesystem::path& from, const std::filesystem::path& to);

/// Makes the renames done in `folder` durable (POSIX: fsync of the folder,
/// skipped where the folder or its file system offers none to this user;
/// Windows: nothing more, the moves were written through).
std::error_code sync_folder(const std::filesystem::path& folder);

}  // namespace dicttools
