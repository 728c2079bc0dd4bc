#include "replacement_record.hpp"

#include <cstdio>
#include <system_error>

#include "file_input.hpp"

namespace dicttools {

namespace {

constexpr std::string_view kHeader = "unfinished replacement, 3 names a file\n";
constexpr std::string_view kEnd = "end";
constexpr std::string_view kInfix = ".replacing-";

/// The largest record read: far more than the names of a few files.
constexpr std::size_t kMaxRecordSize = std::size_t{64} * 1024;

}  // namespace

std::string encode_record(const std::vector<RecordedFile>& files) {
    std::string bytes(kHeader);
    for (const RecordedFile& file : files) {
        for (const std::string& name : {file.target.string(), file.temporary, file.aside}) {
            bytes += name;
            bytes += '\0';
        }
    }
    bytes += kEnd;
    bytes += '\0';
    return bytes;
}

std::optional<std::vector<RecordedFile>> decode_record(std::string_view bytes) {
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
    std::vector<RecordedFile> files;
    for (std::size_t i = 0; i + 1 < fields.size(); i += 3) {
        if (fields[i].empty() || fields[i + 1].empty()) {
            return std::nullopt;
        }
        files.push_back({fields[i], fields[i + 1], fields[i + 2]});
    }
    return files;
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

std::optional<std::vector<RecordedFile>> read_record(const std::filesystem::path& record, std::error_code& error) {
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
    for (const RecordFound& record : records_in(full.parent_path())) {
        std::error_code unreadable;
        const auto files = read_record(record.path, unreadable);
        for (const RecordedFile& recorded : files.value_or(std::vector<RecordedFile>{})) {
            if (recorded.target == full) {
                return record.path;
            }
        }
    }
    return {};
}

}  // namespace dicttools
