#include "file_replacement.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <system_error>
#include <utility>
#include <vector>

#include "file_platform.hpp"

namespace dicttools {

namespace {

std::string system_reason() { return std::strerror(errno); }

/// The start of every hidden name beside `target`: ".dic.bin.tmp-".
std::string hidden_prefix(const std::filesystem::path& target) { return "." + target.filename().string() + ".tmp-"; }

/// A fresh hidden name beside `target` that tells this process, such as
/// ".dic.bin.tmp-4711-123456-3fa9c2e1".
std::filesystem::path temporary_name_for(const std::filesystem::path& target) {
    static std::mt19937 generator{std::random_device{}()};
    const ProcessStamp process = this_process();  // not kept: a forked child is another process
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "%llu-%llu-%08x", static_cast<unsigned long long>(process.id),
                  static_cast<unsigned long long>(process.start), static_cast<unsigned>(generator()));
    return target.parent_path() / (hidden_prefix(target) + suffix);
}

/// The process that made the hidden name `rest` (what follows the prefix:
/// "PID-START-XXXXXXXX"); none for a name of another form.
std::optional<ProcessStamp> maker_of(const std::string& rest) {
    unsigned long long id = 0;
    unsigned long long start = 0;
    unsigned random = 0;
    int used = 0;
    if (rest.empty() || rest.front() < '0' || rest.front() > '9' ||
        std::sscanf(rest.c_str(), "%llu-%llu-%8x%n", &id, &start, &random, &used) != 3 ||
        static_cast<std::size_t>(used) != rest.size()) {
        return std::nullopt;  // not made by this code (an older form, or another program's)
    }
    return ProcessStamp{id, start};
}

/// Removes the hidden names beside `target` left by processes that have
/// ended (killed while they held them). Best effort: what cannot be
/// removed now is tried again by the next commit.
void remove_left_by_ended_processes(const std::filesystem::path& target) {
    const std::string prefix = hidden_prefix(target);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::error_code error;
    std::vector<std::filesystem::path> ended;
    for (auto entry = std::filesystem::directory_iterator(folder, error);
         !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (!name.starts_with(prefix)) {
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
/// can: it is absent or a regular file.
std::string unreplaceable(const std::filesystem::path& target) {
    std::error_code ignored;
    switch (std::filesystem::status(target, ignored).type()) {
        case std::filesystem::file_type::not_found:
        case std::filesystem::file_type::regular:
            return {};
        case std::filesystem::file_type::directory:
            return std::make_error_code(std::errc::is_a_directory).message();
        default:
            return "Not a regular file";
    }
}

std::filesystem::path folder_of(const std::filesystem::path& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
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

    /// Keeps `target`'s earlier file, if any, aside.
    std::error_code keep_aside(const std::filesystem::path& target) {
        Entry entry{target, {}, false};
        std::error_code error;
        if (std::filesystem::exists(target, error)) {
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

    /// Renames `temporary` over the `index`th target kept aside.
    std::error_code move(std::size_t index, const std::filesystem::path& temporary) {
        std::error_code error;
        steps_.move(temporary, entries_[index].target, error);
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
                failures.push_back("putting back the earlier " + entry.target.filename().string() + " failed too (" +
                                   error.message() + ")");
                continue;  // an aside holding the only earlier copy stays
            }
            entry.moved = false;
            entry.aside.clear();
            steps_.sync(folder_of(entry.target), error);
        }
        std::vector<std::string> where;
        for (Entry& entry : entries_) {
            const std::string name = entry.target.filename().string();
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
            const std::string name = entry.target.filename().string();
            if (entry.moved) {
                where.push_back("the earlier " + name + " is kept as " + entry.aside.filename().string());
                continue;
            }
            remove_aside(entry, "a copy of ");  // another name of the target, which is as it was
        }
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
    };

    /// Removes the aside of `entry`; one that stays is told to the steps'
    /// left_behind as "`what`" its target's contents.
    void remove_aside(const Entry& entry, const std::string& what) {
        std::error_code error;
        steps_.remove(entry.aside, error);
        if (error) {
            steps_.tell_left_behind("could not remove " + entry.aside.filename().string() + ", " + what +
                                    entry.target.filename().string() + " kept aside: " + error.message());
        }
    }

    ReplacementSteps& steps_;
    std::vector<Entry> entries_;
    bool done_ = false;
};

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

void ReplacementSteps::tell_left_behind(const std::string& text) const {
    if (left_behind_) {
        left_behind_(text);
    }
}

FileReplacement::FileReplacement(std::filesystem::path target, std::string name)
    : name_(name.empty() ? target.filename().string() : std::move(name)), target_(std::move(target)) {
    if (const std::error_code error = resolve_links(target_)) {
        fail(error.message());
    }
    if (const std::string reason = unreplaceable(target_); !reason.empty()) {
        fail(reason);
    }
    stream_ = create_unnamed_file(folder_of(target_));
    for (int attempt = 0; attempt < 16 && stream_ == nullptr; ++attempt) {
        temporary_ = temporary_name_for(target_);  // no file without a name here: a hidden one
        stream_ = create_new_file(temporary_);     // never reuse an existing name
        if (stream_ == nullptr && errno != EEXIST) {
            break;
        }
    }
    if (stream_ == nullptr) {
        temporary_.clear();
        fail(system_reason());
    }
    if (!copy_permissions(stream_, target_)) {
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
    for (const FileReplacement* file : files) {
        std::error_code error;
        const std::filesystem::path folder = std::filesystem::canonical(folder_of(file->target_), error);
        if (error) {
            file->fail(error.message());
        }
        folders.emplace(folder, file);
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

    for (FileReplacement* file : files) {
        file->name_temporary();
    }

    PlacementLog log(steps);
    // Puts back what was replaced before the exception leaves, so that its
    // message can say what is where when that fails too.
    const auto fail_placing = [&log](const FileReplacement* file, const std::error_code& error) {
        file->fail(error.message() + log.roll_back());
    };
    for (const FileReplacement* file : files) {
        if (const std::error_code error = log.keep_aside(file->target_)) {
            fail_placing(file, error);
        }
    }
    std::size_t index = 0;
    for (FileReplacement* file : files) {
        const std::error_code error = log.move(index++, file->temporary_);
        if (!error) {
            file->temporary_.clear();  // now the target's
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
