#include "replacement_record.hpp"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "file_input.hpp"

namespace dicttools {

namespace {

constexpr std::string_view kHeader = "unfinished replacement, 3 names a file\n";
constexpr std::string_view kEnd = "end";
constexpr std::string_view kFolder = ".";  // the first three names: the folder written in
constexpr std::string_view kInfix = ".replacing-";

/// The largest record read: far more than the names of a few files.
constexpr std::size_t kMaxRecordSize = std::size_t{64} * 1024;

/// Whether `name` is one name in a folder, no path.
bool single_name(const std::string& name) {
    const std::filesystem::path path(name);
    return !name.empty() && name != "." && name != ".." && !path.has_root_path() && path.filename() == path;
}

}  // namespace

std::string encode_record(const Record& record) {
    std::string bytes(kHeader);
    const auto add = [&bytes](const std::string& name) {
        bytes += name;
        bytes += '\0';
    };
    if (!record.folder.empty()) {
        add(std::string(kFolder));
        add(record.folder.string());
        add({});
    }
    for (const RecordedFile& file : record.files) {
        add(file.target.string());
        add(file.temporary);
        add(file.aside);
    }
    add(std::string(kEnd));
    return bytes;
}

std::optional<Record> decode_record(std::string_view bytes) {
    if (!bytes.starts_with(kHeader)) {
        return std::nullopt;
    }
    std::vector<std::string> fields;
    for (std::size_t at = kHeader.size(); at < bytes.size();) {
        const std::size_t end = bytes.find('\0', at);
        if (end == std::string_view::npos) {
            return std::nullopt;  // cut short
        }
        fields.emplace_back(bytes.substr(at, end - at));
        at = end + 1;
    }
    if (fields.empty() || fields.back() != kEnd || (fields.size() - 1) % 3 != 0) {
        return std::nullopt;
    }
    Record record;
    std::size_t first = 0;
    if (fields.size() > 3 && fields[0] == kFolder) {
        record.folder = fields[1];
        if (!record.folder.is_absolute() || !fields[2].empty()) {
            return std::nullopt;
        }
        first = 3;
    }
    for (std::size_t i = first; i + 1 < fields.size(); i += 3) {
        const std::filesystem::path target(fields[i]);
        const bool named = single_name(fields[i]) || (target.is_absolute() && single_name(target.filename().string()));
        if (!named || !single_name(fields[i + 1]) || (!fields[i + 2].empty() && !single_name(fields[i + 2]))) {
            return std::nullopt;
        }
        record.files.push_back({target, fields[i + 1], fields[i + 2]});
    }
    if (record.files.empty()) {
        return std::nullopt;
    }
    return record;
}

std::vector<RecordedFile> files_in(const Record& record, const std::filesystem::path& here) {
    std::vector<RecordedFile> files = record.files;
    for (RecordedFile& file : files) {
        if (file.target.is_relative()) {
            file.target = here / file.target;
        }
    }
    return files;
}

bool finishable_in(const Record& record, const std::filesystem::path& here) {
    const std::vector<RecordedFile> files = files_in(record, here);
    const auto lies_here = [&here](const RecordedFile& file) { return file.target.parent_path() == here; };
    if (std::all_of(files.begin(), files.end(), lies_here)) {
        return true;
    }
    // A record of the first form lies beside its targets: one of them tells
    // the folder it was written in.
    return record.folder.empty() ? std::any_of(files.begin(), files.end(), lies_here) : record.folder == here;
}

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

std::string record_prefix(const std::filesystem::path& first_target) {
    return "." + first_target.filename().string() + std::string(kInfix);
}

std::vector<RecordFound> records_in(const std::filesystem::path& folder) {
    std::vector<RecordFound> records;
    std::error_code error;
    for (auto entry = std::filesystem::directory_iterator(folder, error);
         !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        const std::size_t infix = name.rfind(kInfix);
        if (!name.starts_with('.') || infix == std::string::npos) {
            continue;
        }
        if (const auto maker = maker_of(name.substr(infix + kInfix.size()))) {
            records.push_back({entry->path(), *maker});
        }
    }
    return records;
}

std::optional<Record> read_record(const std::filesystem::path& record, std::error_code& error) {
    const FileContents contents = read_regular_file(record, kMaxRecordSize);
    if (contents.status != FileContents::Status::ok) {
        error = std::make_error_code(std::errc::io_error);
        return std::nullopt;
    }
    return decode_record(contents.bytes);
}

std::filesystem::path record_naming(const std::filesystem::path& file) {
    std::error_code error;
    const std::filesystem::path full = std::filesystem::weakly_canonical(file, error);
    if (error) {
        return {};
    }
    const std::filesystem::path here = full.parent_path();
    for (const RecordFound& found : records_in(here)) {
        std::error_code unreadable;
        const std::optional<Record> record = read_record(found.path, unreadable);
        for (const RecordedFile& recorded : record ? files_in(*record, here) : std::vector<RecordedFile>{}) {
            if (recorded.target == full) {
                return found.path;
            }
        }
    }
    return {};
}

}  // namespace dicttools
