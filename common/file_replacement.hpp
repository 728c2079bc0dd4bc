// Crash-safe file output: new contents put in place of files, several
// together, under a lock on their folders.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "file_error.hpp"
#include "interrupts.hpp"

namespace dicttools {

/// Exclusive hold on a folder among the processes that replace files in it
/// together, released when destroyed. It leaves nothing on the disk: POSIX
/// locks the folder itself (flock), Windows a named mutex derived from the
/// folder's full path.
class FolderLock {
public:
    FolderLock() = default;  // holds nothing
    FolderLock(FolderLock&& other) noexcept;
    FolderLock& operator=(FolderLock&& other) noexcept;
    ~FolderLock();

    /// Waits for the lock on `folder` (a full path) while another process
    /// holds it, calling `waiting` (if any) once before such a wait. Gives a
    /// lock that holds nothing, at once and without `waiting`, when `stop`
    /// is requested while the lock is held by another, whether before the
    /// wait or during it; sets `error` when the system refuses. Where the folder offers no lock
    /// to this user (one that may be written but not read, a file system
    /// without locks) it goes on without one.
    static FolderLock acquire(const std::filesystem::path& folder, const StopRequest& stop, std::error_code& error,
                              const std::function<void()>& waiting = {});

    bool held() const { return handle_ != kNone; }

private:
    static constexpr std::intptr_t kNone = -1;        // holds nothing
    static constexpr std::intptr_t kNotOffered = -2;  // held, with no lock to take
    explicit FolderLock(std::intptr_t handle) : handle_(handle) {}
    void release();

    std::intptr_t handle_ = kNone;  // a descriptor or a handle, per platform
};

/// The file-system calls that putting replacements in place is made of.
/// Each does the real thing; a test derives from this to make one fail.
/// Failures set `error`, never throw.
class ReplacementSteps {
public:
    /// `waiting`, if any, is called when a lock is held by another process,
    /// before waiting for it (to tell the user why nothing happens).
    /// `left_behind`, if any, is given a one-line text for the program to
    /// tell the user: a file that a replacement which succeeded could not
    /// remove (a copy of an earlier file kept aside), or what the commit
    /// found and did of a replacement left unfinished (finish_unfinished()).
    explicit ReplacementSteps(std::function<void()> waiting = {},
                              std::function<void(const std::string&)> left_behind = {})
        : waiting_(std::move(waiting)), left_behind_(std::move(left_behind)) {}
    virtual ~ReplacementSteps() = default;

    /// FolderLock::acquire(), with `waiting`.
    virtual FolderLock lock(const std::filesystem::path& folder, const StopRequest& stop, std::error_code& error);
    /// Gives the existing `file` a second name, `aside`, that keeps its
    /// contents when `file` is replaced: a hard link where this user may
    /// remove it again (link_removable()), else a copy (so also on a file
    /// system without links). Fails with file_exists when `aside` exists.
    virtual void keep_aside(const std::filesystem::path& file, const std::filesystem::path& aside,
                            std::error_code& error);
    /// move_replacing().
    virtual void move(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& error);
    /// sync_folder().
    virtual void sync(const std::filesystem::path& folder, std::error_code& error);
    /// Removes `file` (a name kept aside, a target put back to none, or a
    /// record).
    virtual void remove(const std::filesystem::path& file, std::error_code& error);
    /// move_without_replacing().
    virtual void move_new(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& error);
    /// Creates the file `record` (failing with file_exists when it exists),
    /// writes `bytes` into it and makes it and its name durable: synced to
    /// the disk, and its folder synced (sync_folder()). A record cut short
    /// by a failure is removed.
    virtual void write_record(const std::filesystem::path& record, const std::string& bytes, std::error_code& error);

    /// Calls `left_behind` with `text`, if there is one to call.
    void tell_left_behind(const std::string& text) const;

private:
    std::function<void()> waiting_;
    std::function<void(const std::string&)> left_behind_;
};

/// What a replacement does with a symbolic link at its target.
enum class LinkAtTarget {
    write_through,  // the file it points to is replaced; the link stays
    replace,        // the link itself gives way to the file (a program's own scratch name)
};

/// New contents for a file, written beside it into a temporary file and
/// put in its place only by commit(): until then the target is untouched,
/// and a replacement destroyed uncommitted removes its temporary. Every
/// failure throws FileError naming the target and the system's reason.
///
/// No temporary outlives the next commit of its target, however its process
/// ends. Where the system offers files without a name (Linux), the
/// temporary has none until the commit, under the folder lock, gives it a
/// hidden one just before it becomes the target; a process killed before
/// that leaves nothing. Every hidden name (".NAME.tmp-PID-START-XXXXXXXX":
/// those, the earlier files kept aside while committing, and elsewhere the
/// temporaries themselves) carries the id and start time of the process
/// that made it, and the next commit of the same target removes those of
/// processes that have ended, never one of a live process nor one that a
/// record of an unfinished replacement lists (see commit_together()).
/// A name the temporary is to get at the commit is tried when it is
/// created, so that one the file system refuses (too long) fails at once
/// and not after a long piece of work.
///
/// A target that is a symbolic link is written through: the file it points
/// to is replaced (the temporary lies beside that file) and the link stays;
/// with LinkAtTarget::replace the link itself is replaced. A target that
/// exists keeps its permission bits (a link replaced has none to give). A
/// target that is a folder or another kind of non-regular file, or whose
/// name the system refuses, fails at construction.
class FileReplacement {
public:
    /// Creates the temporary file. Messages call the target `name` (by
    /// default the last part of its path, through printable_name()).
    explicit FileReplacement(std::filesystem::path target, std::string name = {},
                             LinkAtTarget link = LinkAtTarget::write_through);
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;
    ~FileReplacement();

    /// Sets aside `bytes` bytes of disk space for the temporary file before
    /// anything is written, so that a disk too small fails here, at once, and
    /// not after a long piece of work. The file still ends up holding just
    /// what write() put in it: finish() cuts off the rest of the space.
    void reserve(std::uintmax_t bytes);
    /// Appends bytes to the temporary file (buffered).
    void write(std::span<const std::uint8_t> bytes);
    /// Flushes the temporary file to the disk; nothing more may be written.
    void finish();
    /// commit_together() of this one file: it is replaced whole or, on a
    /// failure, kept as it was.
    void commit();
    void commit(ReplacementSteps& steps);
    /// commit(), except that a file at the target is never replaced, however
    /// late it appeared: the rename that puts this one in place refuses to
    /// replace one (move_without_replacing(), under the folder lock). Returns
    /// false when one was there, left as it was; either way the replacement
    /// is spent.
    bool commit_if_absent();
    bool commit_if_absent(ReplacementSteps& steps);

    /// Puts `files` in place together: afterwards every target holds its new
    /// contents, or every one its earlier contents (or is absent, as it was).
    ///  1. finish() each file, then lock the targets' folders (in one order
    ///     for every process, so two runs never interleave their files).
    ///  2. Returns false, having replaced nothing, when `stop` was requested
    ///     by then; the temporaries go with the replacements.
    ///  3. Finishes what processes that have ended left unfinished in these
    ///     folders, as finish_unfinished() does, telling `steps`' left_behind
    ///     (but not of a record it leaves alone).
    ///  4. Keeps each existing target aside; when there is more than one
    ///     file, leaves the record of the replacement in each folder (see
    ///     below); renames every temporary over its target and syncs the
    ///     folders. From here `stop` is not looked at: the replacement
    ///     finishes first.
    ///  5. Removes what was kept aside (one that cannot be removed is told to
    ///     `steps`' left_behind), then the record, and the hidden names beside
    ///     the targets left by processes that have ended (never one that a
    ///     record lists); syncs the folders once more (best effort: the
    ///     replacement is done) and returns true.
    /// A file committed by commit_if_absent() is not kept aside but renamed
    /// only where its target is absent; when one is there, every target is
    /// put back and false returned.
    /// Two files whose targets are one file (through links) fail at step 1,
    /// replacing nothing: "it is the same file as NAME".
    /// A failure at any step puts back every target already replaced and
    /// throws FileError naming the file concerned. Only if putting back fails
    /// too is an earlier contents left beside the target, never lost: under
    /// the name "NAME.earlier" (or "NAME.earlier.2" and on, when that is
    /// taken), which no sweep removes, or, where no such name can be made,
    /// its hidden aside name. The message then says which target is new,
    /// which as it was, and under which name each earlier contents is kept.
    /// Either way the replacements are spent: destroy them.
    ///
    /// No order of renames makes several files change at one instant: a
    /// process killed between two renames (or a power cut) leaves some
    /// targets new and others as they were. So before its first rename the
    /// commit leaves a record (".NAME.replacing-PID-START-XXXXXXXX", NAME the
    /// first target's, written and synced in each folder of the targets) of
    /// the targets and the hidden names of their new and earlier contents,
    /// and removes it only when the replacement is kept or rolled back. It
    /// names a target in its own folder by its name there, so that a folder
    /// moved or copied after the end of the process is finished where it is
    /// now; a target elsewhere by its full path. A
    /// record found beside a file means it may be in the middle of a
    /// replacement (record_naming()); the next commit or finish_unfinished()
    /// in that folder finishes it.
    static bool commit_together(std::initializer_list<FileReplacement*> files, const StopRequest& stop);
    static bool commit_together(std::initializer_list<FileReplacement*> files, const StopRequest& stop,
                                ReplacementSteps& steps);

    /// Finishes every replacement that a process which has ended left in the
    /// middle beside `targets` (after their links): forward, each new file
    /// renamed over its target, when every new file is there (in place or
    /// under its hidden name); else back, every target given its earlier
    /// contents again (or removed, when there was none). Then removes what
    /// was kept aside and the record. Takes the folder locks as
    /// commit_together() does (with `steps`' waiting). Returns what it found
    /// and did, one line for each replacement (naming its targets, as NAME
    /// in messages, through printable_name()); none when there was nothing
    /// to finish, when `stop` was requested while it waited for a lock, or
    /// when a lock cannot be had (the commit then says why). A record that
    /// names a folder besides these is left for a run there; one that
    /// cannot be finished says so and stays for the next run. A record in a
    /// folder it was not written in (one moved or copied since) never
    /// touches a file outside that folder: when it names one, it is left
    /// and said to be left.
    static std::vector<std::string> finish_unfinished(std::initializer_list<std::filesystem::path> targets,
                                                      const StopRequest& stop, ReplacementSteps& steps);

    /// Whether committing would replace the file `path` names (after its
    /// links). A hard link of the target is a file of its own: not counted.
    bool replaces(const std::filesystem::path& path) const;

private:
    [[noreturn]] void fail(const std::string& reason) const;
    /// Gives an unnamed temporary its hidden name and closes it.
    void name_temporary();

    std::string name_;                 // the target's name, for messages
    std::filesystem::path target_;     // the file replaced, links resolved
    std::filesystem::path temporary_;  // empty while the temporary has no name
    std::FILE* stream_ = nullptr;      // open until finished, or until named when unnamed
    bool finished_ = false;
    bool committed_ = false;
    bool reserved_ = false;  // space set aside: finish() cuts the file where writing ended
    bool only_new_ = false;  // commit_if_absent(): a file at the target is never replaced
};

/// Why this user may not write the existing `file` (POSIX: access() with the
/// effective ids, so root may write any; Windows: its read-only attribute),
/// for a program to refuse one before it starts a long piece of work: the
/// system's reason, or no error when it may or when there is no file of that
/// name. (One implementation per platform file.)
std::error_code check_writable(const std::filesystem::path& file);

}  // namespace dicttools
