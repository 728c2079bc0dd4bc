#include "file_io.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <system_error>
#include <utility>
#include <vector>

namespace dicttools {

namespace {

struct FileCloser {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

std::string system_reason() { return std::strerror(errno); }

/// A fresh name beside `target`, such as ".dic.bin.tmp-3fa9c2e1".
std::filesystem::path temporary_name_for(const std::filesystem::path& target) {
    static std::mt19937 generator{std::random_device{}()};
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(generator()));
    return target.parent_path() / ("." + target.filename().string() + ".tmp-" + suffix);
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

/// The targets' earlier files kept aside while replacements are put in
/// place, and which have been put in place: destroyed without keep(), it
/// puts every earlier file back; either way it removes the asides left.
class PlacementLog {
public:
    explicit PlacementLog(ReplacementSteps& steps) : steps_(steps) {}
    PlacementLog(const PlacementLog&) = delete;
    PlacementLog& operator=(const PlacementLog&) = delete;

    ~PlacementLog() {
        for (auto entry = entries_.rbegin(); !kept_ && entry != entries_.rend(); ++entry) {
            if (!entry->moved) {
                continue;
            }
            std::error_code error;
            if (entry->aside.empty()) {
                std::filesystem::remove(entry->target, error);  // there was none before
            } else {
                // Put back, the aside name is gone; should that fail, the
                // aside holds the only earlier copy, and stays.
                steps_.move(entry->aside, entry->target, error);
                entry->aside.clear();
            }
            steps_.sync(folder_of(entry->target), error);
        }
        remove_asides();
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
    void keep() {
        kept_ = true;
        remove_asides();
    }

private:
    void remove_asides() {
        for (Entry& entry : entries_) {
            if (!entry.aside.empty()) {
                std::error_code ignored;
                std::filesystem::remove(entry.aside, ignored);
                entry.aside.clear();
            }
        }
    }

    struct Entry {
        std::filesystem::path target;
        std::filesystem::path aside;  // empty when there was no earlier file
        bool moved;
    };

    ReplacementSteps& steps_;
    std::vector<Entry> entries_;
    bool kept_ = false;
};

/// The bytes of the open `stream`, up to `limit`; `path` for its size.
FileContents read_stream(std::FILE* stream, const std::filesystem::path& path, std::size_t limit) {
    FileContents contents;
    std::error_code ignored;
    const auto expected_size = std::filesystem::file_size(path, ignored);
    if (!ignored) {
        contents.bytes.reserve(static_cast<std::size_t>(std::min<std::uintmax_t>(expected_size, limit)));
    }
    char chunk[65536];
    while (contents.bytes.size() < limit) {
        const std::size_t wanted = std::min(sizeof chunk, limit - contents.bytes.size());
        const std::size_t count = std::fread(chunk, 1, wanted, stream);
        if (count == 0) {
            break;
        }
        contents.bytes.append(chunk, count);
    }
    if (std::ferror(stream)) {
        contents.status = FileContents::Status::cannot_read;
        contents.reason = system_reason();
        contents.bytes.clear();
    }
    return contents;
}

}  // namespace

FileContents read_file(const std::filesystem::path& path, std::size_t limit) {
    const FileHandle stream{std::fopen(path.string().c_str(), "rb")};
    if (!stream) {
        // A folder opens as a file on POSIX (and fails when read) but not on
        // Windows: say the same of it everywhere.
        FileContents contents;
        std::error_code ignored;
        const bool folder = std::filesystem::is_directory(path, ignored);
        contents.status = folder ? FileContents::Status::cannot_read : FileContents::Status::cannot_open;
        contents.reason = folder ? std::strerror(EISDIR) : system_reason();
        return contents;
    }
    return read_stream(stream.get(), path, limit);
}

FileContents read_regular_file(const std::filesystem::path& path, std::size_t limit) {
    FileContents refusal;
    const FileHandle stream{open_regular_file(path, refusal)};
    return stream ? read_stream(stream.get(), path, limit) : refusal;
}

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

FileReplacement::FileReplacement(std::filesystem::path target)
    : name_(target.filename().string()), target_(std::move(target)) {
    if (const std::error_code error = resolve_links(target_)) {
        fail(error.message());
    }
    if (const std::string reason = unreplaceable(target_); !reason.empty()) {
        fail(reason);
    }
    for (int attempt = 0; attempt < 16 && stream_ == nullptr; ++attempt) {
        temporary_ = temporary_name_for(target_);
        stream_ = create_new_file(temporary_);  // never reuse an existing name
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
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
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
    if (stream_ == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size()) {
        fail(stream_ == nullptr ? "already closed" : system_reason());
    }
}

void FileReplacement::finish() {
    if (stream_ == nullptr) {
        return;
    }
    const bool written = std::fflush(stream_) == 0 && (!reserved_ || cut_at_position(stream_)) && sync_to_disk(stream_);
    std::string reason = written ? std::string() : system_reason();
    const bool closed = std::fclose(std::exchange(stream_, nullptr)) == 0;
    if (written && !closed) {
        reason = system_reason();
    }
    if (!written || !closed) {
        fail(reason);
    }
}

void FileReplacement::commit() {
    const ManualStop never;
    commit_together({this}, never);
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

    PlacementLog log(steps);
    for (const FileReplacement* file : files) {
        if (const std::error_code error = log.keep_aside(file->target_)) {
            file->fail(error.message());
        }
    }
    std::size_t index = 0;
    for (FileReplacement* file : files) {
        if (const std::error_code error = log.move(index++, file->temporary_)) {
            file->fail(error.message());
        }
        file->temporary_.clear();  // now the target's, or gone when put back
    }
    for (const auto& [folder, file] : folders) {
        std::error_code error;
        steps.sync(folder, error);
        if (error) {
            file->fail(error.message());
        }
    }
    log.keep();
    for (FileReplacement* file : files) {
        file->committed_ = true;
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
