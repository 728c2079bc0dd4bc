#include "file_replacement.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#include "console_text.hpp"
#include "file_platform.hpp"
#include "replacement_record.hpp"

namespace dicttools {

namespace {

std::string system_reason() { return std::strerror(errno); }

/// The start of every hidden name beside `target`: ".dic.bin.tmp-".
std::string hidden_prefix(const std::filesystem::path& target) { return "." + target.filename().string() + ".tmp-"; }

/// A fresh name in `folder` of `prefix` and what tells this process, such
/// as ".dic.bin.tmp-4711-123456-3fa9c2e1".
std::filesystem::path stamped_name(const std::filesystem::path& folder, const std::string& prefix) {
    static std::mt19937 generator{std::random_device{}()};
    const ProcessStamp process = this_process();  // not kept: a forked child is another process
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "%llu-%llu-%08x", static_cast<unsigned long long>(process.id),
                  static_cast<unsigned long long>(process.start), static_cast<unsigned>(generator()));
    return folder / (prefix + suffix);
}

/// A fresh hidden name beside `target` that tells this process.
std::filesystem::path temporary_name_for(const std::filesystem::path& target) {
    return stamped_name(target.parent_path(), hidden_prefix(target));
}

/// The hidden names that the records in `folder` list: no sweep takes
/// them while a record may still need them.
std::set<std::string> recorded_names(const std::filesystem::path& folder) {
    std::set<std::string> names;
    for (const RecordFound& record : records_in(folder)) {
        std::error_code unreadable;
        for (const RecordedFile& file : read_record(record.path, unreadable).value_or(Record{}).files) {
            names.insert(file.temporary);
            names.insert(file.aside);
        }
    }
    return names;
}

/// Removes the hidden names beside `target` left by processes that have
/// ended (killed while they held them), but none a record lists. Best
/// effort: what cannot be removed now is tried again by the next commit.
void remove_left_by_ended_processes(const std::filesystem::path& target) {
    const std::string prefix = hidden_prefix(target);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    const std::set<std::string> recorded = recorded_names(folder);
    std::error_code error;
    std::vector<std::filesystem::path> ended;
    for (auto entry = std::filesystem::directory_iterator(folder, error);
         !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (!name.starts_with(prefix) || recorded.contains(name)) {
            continue;
        }
        const std::optional<ProcessStamp> maker = maker_of(name.substr(prefix.size()));
        if (maker && process_ended(*maker)) {
            ended.push_back(entry->path());
        }
    }
    for (const std::filesystem::path& file : ended) {
        std::filesystem::remove(file, error);
    }
}

/// Follows `path` through symbolic links: leaves it as it is when it is no
/// link (or does not exist), else makes it the file its links end at.
std::error_code resolve_links(std::filesystem::path& path) {
    constexpr int kMaxLinks = 40;  // as the system's own limit
    for (int link = 0; link < kMaxLinks; ++link) {
        std::error_code missing;
        if (std::filesystem::symlink_status(path, missing).type() != std::filesystem::file_type::symlink) {
            return {};
        }
        std::error_code error;
        const std::filesystem::path destination = std::filesystem::read_symlink(path, error);
        if (error) {
            return error;
        }
        path = destination.is_absolute() ? destination : path.parent_path() / destination;
    }
    return std::make_error_code(std::errc::too_many_symbolic_link_levels);
}

/// Why `target` cannot be replaced by a file, or an empty string when it
/// can: it is absent or a regular file, or a link that `link` replaces.
std::string unreplaceable(const std::filesystem::path& target, LinkAtTarget link) {
    std::error_code error;
    const std::filesystem::file_status status = link == LinkAtTarget::replace
                                                    ? std::filesystem::symlink_status(target, error)
                                                    : std::filesystem::status(target, error);
    switch (status.type()) {
        case std::filesystem::file_type::not_found:
        case std::filesystem::file_type::regular:
        case std::filesystem::file_type::symlink:
            return {};
        case std::filesystem::file_type::directory:
            return std::make_error_code(std::errc::is_a_directory).message();
        case std::filesystem::file_type::none:
            return error.message();  // the name itself refused (too long)
        default:
            return "Not a regular file";
    }
}

/// Creates the file `path` and removes it again: why the system refuses
/// that name, or an empty string when it takes it.
std::string try_name(const std::filesystem::path& path) {
    std::FILE* created = create_new_file(path);
    if (created == nullptr) {
        return errno == EEXIST ? std::string() : system_reason();
    }
    std::fclose(created);
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    return {};
}

/// Whether `path` is a symbolic link (one that leads nowhere too).
bool is_link(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::is_symlink(std::filesystem::symlink_status(path, ignored));
}

std::filesystem::path folder_of(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

/// Why no file could be made in `folder`, from errno: the system's reason,
/// with the folder named when it is there, so that a reason such as "No
/// such file or directory" (from a folder that takes no new file, as /proc)
/// is not taken for one about the target.
std::string creation_failure(const std::filesystem::path& folder) {
    std::string reason = system_reason();
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        return reason;
    }
    const std::filesystem::path full = std::filesystem::canonical(folder, error);  // not "/proc/."
    return "cannot create a file in " + printable_name(error ? folder : full) + ": " + reason;
}

/// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    }
    return text;
}

/// The targets' earlier files kept aside while replacements are put in
/// place, and which have been put in place: destroyed without keep() or
/// roll_back(), it puts every earlier file back; either way it removes the
/// asides left.
class PlacementLog {
public:
    explicit PlacementLog(ReplacementSteps& steps) : steps_(steps) {}
    PlacementLog(const PlacementLog&) = delete;
    PlacementLog& operator=(const PlacementLog&) = delete;

    ~PlacementLog() {
        if (!done_) {
            roll_back();
        }
    }

    /// Keeps `target`'s earlier file (or link), if any, aside; with
    /// `only_new` none, the target is not to be replaced.
    std::error_code keep_aside(const std::filesystem::path& target, bool only_new) {
        Entry entry{target, {}, false, only_new};
        std::error_code error;
        const std::filesystem::file_status earlier = std::filesystem::symlink_status(target, error);
        if (std::filesystem::status_known(earlier)) {
            error.clear();
        }
        if (!only_new && std::filesystem::exists(earlier)) {
            for (int attempt = 0; attempt < 16; ++attempt) {
                entry.aside = temporary_name_for(target);
                error.clear();
                steps_.keep_aside(target, entry.aside, error);
                if (error != std::errc::file_exists) {
                    break;
                }
            }
        }
        if (error) {
            return error;
        }
        entries_.push_back(std::move(entry));
        return {};
    }

    /// Leaves the record of a replacement of more than one file in each of
    /// `folders` (the targets' own, by their full names), for the next run
    /// to finish should this process end between two renames: the targets
    /// `targets` (by their full names; in the record's own folder by their
    /// names there), the new contents' `temporaries` and the names kept
    /// aside. Called once every target is kept aside, before the first
    /// rename; the record is removed once the replacement is kept or
    /// rolled back.
    std::error_code record(const std::vector<std::filesystem::path>& targets,
                           const std::vector<std::filesystem::path>& temporaries,
                           const std::vector<std::filesystem::path>& folders) {
        if (entries_.size() < 2) {
            return {};  // one rename: never half done
        }
        const std::filesystem::path name = stamped_name({}, record_prefix(targets.front()));
        for (const std::filesystem::path& folder : folders) {
            Record record{folder, {}};
            for (std::size_t i = 0; i < entries_.size(); ++i) {
                const bool here = targets[i].parent_path() == folder;
                record.files.push_back({here ? targets[i].filename() : targets[i], temporaries[i].filename().string(),
                                        entries_[i].aside.filename().string()});
            }
            std::error_code error;
            steps_.write_record(folder / name, encode_record(record), error);
            if (error) {
                return error;
            }
            records_.push_back(folder / name);
        }
        return {};
    }

    /// Renames `temporary` over the `index`th target kept aside (or to it,
    /// when only new, and only when it is absent).
    std::error_code move(std::size_t index, const std::filesystem::path& temporary) {
        std::error_code error;
        if (entries_[index].only_new) {
            steps_.move_new(temporary, entries_[index].target, error);
        } else {
            steps_.move(temporary, entries_[index].target, error);
        }
        entries_[index].moved = !error;
        return error;
    }

    /// Keeps the replacements: the asides go, the earlier files with them.
    /// An aside that cannot be removed is told to the steps' left_behind.
    void keep() {
        done_ = true;
        for (const Entry& entry : entries_) {
            if (!entry.aside.empty()) {
                remove_aside(entry, "the earlier ");
            }
        }
        remove_records();
    }

    /// Puts every earlier file back, in reverse order, and removes the
    /// asides left. Returns what is where when putting back failed ("; ..."
    /// to follow the reason of the failure), else an empty string.
    std::string roll_back() {
        done_ = true;
        std::vector<std::string> failures;
        for (std::size_t i = entries_.size(); i-- > 0;) {
            Entry& entry = entries_[i];
            if (!entry.moved) {
                continue;
            }
            std::error_code error;
            if (entry.aside.empty()) {
                steps_.remove(entry.target, error);  // there was none before
            } else {
                steps_.move(entry.aside, entry.target, error);  // the aside name is gone with it
            }
            if (error) {
                failures.push_back("putting back the earlier " + printable_name(entry.target.filename()) +
                                   " failed too (" + error.message() + ")");
                continue;  // an aside holding the only earlier copy stays
            }
            entry.moved = false;
            entry.aside.clear();
            steps_.sync(folder_of(entry.target), error);
        }
        std::vector<std::string> where;
        for (Entry& entry : entries_) {
            const std::string name = printable_name(entry.target.filename());
            if (entry.moved) {
                where.push_back(name + (entry.aside.empty() ? " is new (there was none before)" : " is new"));
            } else {
                where.push_back(name + " is as it was");
            }
        }
        for (Entry& entry : entries_) {
            if (entry.aside.empty()) {
                continue;
            }
            const std::string name = printable_name(entry.target.filename());
            if (entry.moved) {
                keep_visible(entry);
                where.push_back("the earlier " + name + " is kept as " + printable_name(entry.aside.filename()));
                continue;
            }
            remove_aside(entry, "a copy of ");  // another name of the target, which is as it was
        }
        remove_records();
        if (failures.empty()) {
            return {};
        }
        return "; " + listed(failures) + ": " + listed(where);
    }

private:
    struct Entry {
        std::filesystem::path target;
        std::filesystem::path aside;  // empty when there was no earlier file
        bool moved;
        bool only_new;  // renamed only to an absent target
    };

    /// Removes the aside of `entry`; one that stays is told to the steps'
    /// left_behind as "`what`" its target's contents.
    void remove_aside(const Entry& entry, const std::string& what) {
        std::error_code error;
        steps_.remove(entry.aside, error);
        if (error) {
            steps_.tell_left_behind("could not remove " + printable_name(entry.aside.filename()) + ", " + what +
                                    printable_name(entry.target.filename()) + " kept aside: " + error.message());
        }
    }

    /// Gives the aside of `entry`, the only earlier contents of its target
    /// left, a name the user sees and no sweep takes: "NAME.earlier", or
    /// "NAME.earlier.2" and on when that is taken. Where no such name can
    /// be given, the hidden one stays.
    void keep_visible(Entry& entry) {
        const std::string base = entry.target.filename().string() + ".earlier";
        for (int number = 1; number <= kMaxEarlierNumber; ++number) {
            const std::filesystem::path visible =
                entry.target.parent_path() / (number == 1 ? base : base + "." + std::to_string(number));
            std::error_code error;
            steps_.keep_aside(entry.aside, visible, error);
            if (error == std::errc::file_exists) {
                continue;
            }
            if (!error) {
                steps_.remove(entry.aside, error);  // should it stay, a second name of the same contents
                entry.aside = visible;
            }
            return;
        }
    }

    /// Removes the records of the replacement; one that stays is told to the
    /// steps' left_behind (the next run finds nothing left to do in it).
    void remove_records() {
        for (const std::filesystem::path& record : records_) {
            std::error_code error;
            steps_.remove(record, error);
            if (error) {
                steps_.tell_left_behind("could not remove " + printable_name(record.filename()) +
                                        ", the record of this replacement: " + error.message());
            }
        }
        records_.clear();
    }

    static constexpr int kMaxEarlierNumber = 1000;

    ReplacementSteps& steps_;
    std::vector<Entry> entries_;
    std::vector<std::filesystem::path> records_;  // one in each folder of the targets
    bool done_ = false;
};

/// Whether a file is at `path` (a link counts, wherever it leads).
bool present(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::symlink_status(path, ignored).type() != std::filesystem::file_type::not_found;
}

/// Finishes the replacement that the whole record `files` (found at
/// `record`) tells of, left by a process that has ended, under the locks of
/// every folder it names: forward when every new file is there, as its
/// target or under its hidden name; else back, each target to its earlier
/// contents. Removes what it kept aside and the record in every folder.
/// Returns what it found and did, one line.
std::string finish_record(const std::filesystem::path& record, const std::vector<RecordedFile>& files,
                          ReplacementSteps& steps) {
    struct State {
        std::filesystem::path target, temporary, aside;  // aside empty: none
        bool waiting;                                    // the new contents still under their hidden name
        bool lost;                                       // the new contents neither there nor in place
    };
    std::vector<State> states;
    std::vector<std::string> names;
    std::set<std::filesystem::path> folders;
    std::string missing;
    for (const RecordedFile& file : files) {
        const std::filesystem::path folder = file.target.parent_path();
        State state{file.target, folder / file.temporary,
                    file.aside.empty() ? std::filesystem::path() : folder / file.aside, false, false};
        state.waiting = present(state.temporary);
        std::error_code unknown;
        state.lost =
            !state.waiting && (state.aside.empty() ? !present(state.target)
                                                   : std::filesystem::equivalent(state.target, state.aside, unknown));
        if (state.lost && missing.empty()) {
            missing = printable_name(state.target.filename());
        }
        names.push_back(printable_name(state.target.filename()));
        folders.insert(folder);
        states.push_back(std::move(state));
    }
    const std::string found = "found " + listed(names) + " in the middle of a replacement by a run that ended; ";
    std::error_code error;
    const auto failed = [&] {
        return found + "finishing it failed (" + error.message() + "): " + printable_name(record.filename()) +
               " stays for the next run";
    };
    const bool forward = missing.empty();
    for (const State& state : states) {
        if (forward && state.waiting) {
            steps.move(state.temporary, state.target, error);
        } else if (!forward && state.waiting) {
            steps.remove(state.temporary, error);
        } else if (!forward && !state.lost && state.aside.empty()) {
            steps.remove(state.target, error);  // there was none before
        } else if (!forward && !state.lost && present(state.aside)) {
            steps.move(state.aside, state.target, error);
        }
        if (error) {
            return failed();
        }
    }
    for (const std::filesystem::path& folder : folders) {
        steps.sync(folder, error);
        if (error) {
            return failed();
        }
    }
    for (const State& state : states) {  // the earlier contents, or other names of the targets as they are
        std::error_code ignored;         // one left is a hidden name of an ended process: swept
        if (!state.aside.empty() && present(state.aside)) {
            steps.remove(state.aside, ignored);
        }
    }
    for (const std::filesystem::path& folder : folders) {
        steps.remove(folder / record.filename(), error);
        if (error) {
            return failed();
        }
        std::error_code ignored;  // the replacement is finished either way
        steps.sync(folder, ignored);
    }
    if (forward) {
        return found + "finished it: " + listed(names) + (names.size() == 2 ? " are both new" : " are all new");
    }
    return found + "the new " + missing + " is missing, so it is undone: " + listed(names) + " are as they were";
}

/// What a record of an ended process found in a folder it was not written
/// in (one moved or copied since) says when it names files elsewhere too,
/// which it leaves alone.
std::string left_to_its_folder(const std::filesystem::path& record_path, const Record& record) {
    std::vector<std::string> names;
    for (const RecordedFile& file : record.files) {
        names.push_back(printable_name(file.target.filename()));
    }
    return "found " + listed(names) + " in the middle of a replacement by a run that ended in another folder" +
           (record.folder.empty() ? std::string() : " (" + printable_name(record.folder) + ")") +
           "; it names files outside this one, so nothing is done here: " + printable_name(record_path.filename()) +
           " stays";
}

/// Finishes the replacements that processes which have ended left half
/// done in `folders`, whose locks this process holds; returns what it
/// found and did, one line each. A record is read in the folder it lies
/// in, so that one moved or copied with its folder finishes the files
/// there. A record that names a folder not among them is left, and so is
/// one of a live process, and one that names files outside a folder it
/// was not written in (said as left when `say_left`).
std::vector<std::string> finish_left_records(const std::set<std::filesystem::path>& folders, ReplacementSteps& steps,
                                             bool say_left) {
    std::vector<std::string> told;
    for (const std::filesystem::path& folder : folders) {
        for (const RecordFound& record : records_in(folder)) {
            if (!process_ended(record.maker)) {
                continue;
            }
            std::error_code unreadable;
            const std::optional<Record> read = read_record(record.path, unreadable);
            if (!read && !unreadable) {  // cut short (nothing was renamed yet), or not a record at all
                std::error_code ignored;
                steps.remove(record.path, ignored);
            }
            if (!read) {
                continue;
            }
            if (!finishable_in(*read, folder)) {
                if (say_left) {
                    told.push_back(left_to_its_folder(record.path, *read));
                }
                continue;
            }
            const std::vector<RecordedFile> files = files_in(*read, folder);
            const bool all_held = std::all_of(files.begin(), files.end(), [&folders](const RecordedFile& file) {
                return folders.contains(file.target.parent_path());
            });
            if (all_held) {
                told.push_back(finish_record(record.path, files, steps));
            }
        }
    }
    return told;
}

}  // namespace

FolderLock::FolderLock(FolderLock&& other) noexcept : handle_(std::exchange(other.handle_, kNone)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    if (this != &other) {
        release();
        handle_ = std::exchange(other.handle_, kNone);
    }
    return *this;
}

FolderLock::~FolderLock() { release(); }

FolderLock ReplacementSteps::lock(const std::filesystem::path& folder, const StopRequest& stop,
                                  std::error_code& error) {
    return FolderLock::acquire(folder, stop, error, waiting_);
}

void ReplacementSteps::keep_aside(const std::filesystem::path& file, const std::filesystem::path& aside,
                                  std::error_code& error) {
    if (is_link(file)) {
        std::filesystem::copy_symlink(file, aside, error);  // a link replaced is kept as the link it was
        return;
    }
    if (link_removable(file)) {
        std::filesystem::create_hard_link(file, aside, error);
    } else {
        error = std::make_error_code(std::errc::operation_not_permitted);  // a link left for good: copy
    }
    if (error && error != std::errc::file_exists) {
        error.clear();  // a file system without hard links: a copy does as well
        if (!std::filesystem::copy_file(file, aside, error) && error != std::errc::file_exists) {
            std::error_code ignored;
            std::filesystem::remove(aside, ignored);  // a copy cut short
        }
    }
}

void ReplacementSteps::move(const std::filesystem::path& from, const std::filesystem::path& to,
                            std::error_code& error) {
    error = move_replacing(from, to);
}

void ReplacementSteps::sync(const std::filesystem::path& folder, std::error_code& error) {
    error = sync_folder(folder);
}

void ReplacementSteps::remove(const std::filesystem::path& file, std::error_code& error) {
    std::filesystem::remove(file, error);
}

void ReplacementSteps::move_new(const std::filesystem::path& from, const std::filesystem::path& to,
                                std::error_code& error) {
    error = move_without_replacing(from, to);
}

void ReplacementSteps::write_record(const std::filesystem::path& record, const std::string& bytes,
                                    std::error_code& error) {
    std::FILE* stream = create_new_file(record);
    if (stream == nullptr) {
        error = {errno, std::generic_category()};
        return;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() &&
                         std::fflush(stream) == 0 && sync_to_disk(stream);
    const int reason = errno;
    const bool closed = std::fclose(stream) == 0;
    if (!written || !closed) {
        error = {written ? errno : reason, std::generic_category()};
        std::error_code ignored;
        std::filesystem::remove(record, ignored);  // a record cut short
        return;
    }
    error = sync_folder(folder_of(record));
}

void ReplacementSteps::tell_left_behind(const std::string& text) const {
    if (left_behind_) {
        left_behind_(text);
    }
}

FileReplacement::FileReplacement(std::filesystem::path target, std::string name, LinkAtTarget link)
    : name_(name.empty() ? printable_name(target.filename()) : std::move(name)), target_(std::move(target)) {
    if (link == LinkAtTarget::write_through) {
        if (const std::error_code error = resolve_links(target_)) {
            fail(error.message());
        }
    }
    if (const std::string reason = unreplaceable(target_, link); !reason.empty()) {
        fail(reason);
    }
    stream_ = create_unnamed_file(folder_of(target_));
    if (stream_ != nullptr) {
        // Named only at the commit: the name, as long as every hidden one,
        // is tried now.
        if (const std::string reason = try_name(temporary_name_for(target_)); !reason.empty()) {
            std::fclose(std::exchange(stream_, nullptr));
            fail(reason);
        }
    }
    for (int attempt = 0; attempt < 16 && stream_ == nullptr; ++attempt) {
        temporary_ = temporary_name_for(target_);  // no file without a name here: a hidden one
        stream_ = create_new_file(temporary_);     // never reuse an existing name
        if (stream_ == nullptr && errno != EEXIST) {
            break;
        }
    }
    if (stream_ == nullptr) {
        temporary_.clear();
        fail(creation_failure(folder_of(target_)));
    }
    if (!is_link(target_) && !copy_permissions(stream_, target_)) {
        const std::string reason = system_reason();
        std::fclose(std::exchange(stream_, nullptr));  // no destructor runs for a constructor that throws
        if (!temporary_.empty()) {
            std::error_code ignored;
            std::filesystem::remove(temporary_, ignored);
        }
        fail(reason);
    }
}

FileReplacement::~FileReplacement() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
    }
    if (!committed_ && !temporary_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
    }
}

void FileReplacement::reserve(std::uintmax_t bytes) {
    if (stream_ == nullptr || !reserve_space(stream_, bytes)) {
        fail(stream_ == nullptr ? "already closed" : system_reason());
    }
    reserved_ = true;
}

void FileReplacement::write(std::span<const std::uint8_t> bytes) {
    if (stream_ == nullptr || finished_ || std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size()) {
        fail(stream_ == nullptr || finished_ ? "already closed" : system_reason());
    }
}

void FileReplacement::finish() {
    if (stream_ == nullptr || finished_) {
        return;
    }
    finished_ = true;
    const bool written = std::fflush(stream_) == 0 && (!reserved_ || cut_at_position(stream_)) && sync_to_disk(stream_);
    std::string reason = written ? std::string() : system_reason();
    if (temporary_.empty()) {  // without a name it lives only while open
        if (!written) {
            fail(reason);
        }
        return;
    }
    const bool closed = std::fclose(std::exchange(stream_, nullptr)) == 0;
    if (written && !closed) {
        reason = system_reason();
    }
    if (!written || !closed) {
        fail(reason);
    }
}

void FileReplacement::name_temporary() {
    if (!temporary_.empty() || stream_ == nullptr) {
        return;  // named from the start
    }
    std::error_code error;
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary_ = temporary_name_for(target_);
        error = name_unnamed_file(stream_, temporary_);
        if (error != std::errc::file_exists) {
            break;
        }
    }
    if (error) {
        temporary_.clear();
        fail(error.message());
    }
    if (std::fclose(std::exchange(stream_, nullptr)) != 0) {
        fail(system_reason());  // the destructor removes the name
    }
}

void FileReplacement::commit() {
    ReplacementSteps system;
    commit(system);
}

void FileReplacement::commit(ReplacementSteps& steps) {
    const ManualStop never;
    commit_together({this}, never, steps);
}

bool FileReplacement::commit_if_absent() {
    ReplacementSteps system;
    return commit_if_absent(system);
}

bool FileReplacement::commit_if_absent(ReplacementSteps& steps) {
    only_new_ = true;
    const ManualStop never;
    return commit_together({this}, never, steps);
}

bool FileReplacement::commit_together(std::initializer_list<FileReplacement*> files, const StopRequest& stop) {
    ReplacementSteps system;
    return commit_together(files, stop, system);
}

bool FileReplacement::commit_together(std::initializer_list<FileReplacement*> files, const StopRequest& stop,
                                      ReplacementSteps& steps) {
    for (auto first = files.begin(); first != files.end(); ++first) {
        for (auto second = std::next(first); second != files.end(); ++second) {
            if ((*second)->replaces((*first)->target_)) {
                (*second)->fail("it is the same file as " + (*first)->name_);
            }
        }
    }
    for (FileReplacement* file : files) {
        file->finish();
    }
    // Each folder once, by its full name, so that every process takes the
    // locks in the same order; with the first file in it, for messages.
    std::map<std::filesystem::path, const FileReplacement*> folders;
    std::vector<std::filesystem::path> full_targets;  // for the record
    for (const FileReplacement* file : files) {
        std::error_code error;
        const std::filesystem::path folder = std::filesystem::canonical(folder_of(file->target_), error);
        if (error) {
            file->fail(error.message());
        }
        folders.emplace(folder, file);
        full_targets.push_back(folder / file->target_.filename());
    }
    std::vector<FolderLock> locks;
    for (const auto& [folder, file] : folders) {
        std::error_code error;
        locks.push_back(steps.lock(folder, stop, error));
        if (error) {
            file->fail(error.message());
        }
        if (!locks.back().held()) {
            return false;
        }
    }
    if (stop.requested()) {
        return false;
    }
    std::set<std::filesystem::path> held;
    for (const auto& [folder, file] : folders) {
        held.insert(folder);
    }
    for (const std::string& text : finish_left_records(held, steps, false)) {
        steps.tell_left_behind(text);
    }

    std::vector<std::filesystem::path> temporaries;
    for (FileReplacement* file : files) {
        file->name_temporary();
        temporaries.push_back(file->temporary_);
    }

    PlacementLog log(steps);
    // Puts back what was replaced before the exception leaves, so that its
    // message can say what is where when that fails too.
    const auto fail_placing = [&log](const FileReplacement* file, const std::error_code& error) {
        file->fail(error.message() + log.roll_back());
    };
    for (const FileReplacement* file : files) {
        if (const std::error_code error = log.keep_aside(file->target_, file->only_new_)) {
            fail_placing(file, error);
        }
    }
    if (const std::error_code error =
            log.record(full_targets, temporaries, std::vector<std::filesystem::path>(held.begin(), held.end()))) {
        fail_placing(*files.begin(), error);
    }
    std::size_t index = 0;
    for (FileReplacement* file : files) {
        const std::error_code error = log.move(index++, file->temporary_);
        if (!error) {
            file->temporary_.clear();  // now the target's
        } else if (file->only_new_ && error == std::errc::file_exists) {
            if (const std::string where = log.roll_back(); !where.empty()) {
                file->fail(error.message() + where);
            }
            return false;  // a file there is kept
        } else {
            fail_placing(file, error);
        }
    }
    for (const auto& [folder, file] : folders) {
        std::error_code error;
        steps.sync(folder, error);
        if (error) {
            fail_placing(file, error);
        }
    }
    log.keep();
    for (FileReplacement* file : files) {
        file->committed_ = true;
        remove_left_by_ended_processes(file->target_);
    }
    for (const auto& [folder, file] : folders) {
        std::error_code ignored;  // the asides' removal made durable; the replacement is done either way
        steps.sync(folder, ignored);
    }
    return true;
}

std::vector<std::string> FileReplacement::finish_unfinished(std::initializer_list<std::filesystem::path> targets,
                                                            const StopRequest& stop, ReplacementSteps& steps) {
    std::set<std::filesystem::path> folders;
    for (std::filesystem::path target : targets) {
        if (resolve_links(target)) {
            continue;  // the commit says why
        }
        std::error_code error;
        const std::filesystem::path folder = std::filesystem::canonical(folder_of(target), error);
        if (!error) {
            folders.insert(folder);
        }
    }
    std::vector<FolderLock> locks;  // in the order commit_together() takes them
    for (const std::filesystem::path& folder : folders) {
        std::error_code error;
        locks.push_back(steps.lock(folder, stop, error));
        if (error || !locks.back().held()) {
            return {};
        }
    }
    return finish_left_records(folders, steps, true);
}

bool FileReplacement::replaces(const std::filesystem::path& path) const {
    std::error_code error;
    const std::filesystem::path mine = std::filesystem::weakly_canonical(target_, error);
    if (error) {
        return false;
    }
    const std::filesystem::path theirs = std::filesystem::weakly_canonical(path, error);
    return !error && mine == theirs;
}

void FileReplacement::fail(const std::string& reason) const {
    throw FileError("Could not write " + name_ + ": " + reason);
}

}  // namespace dicttools
