// The record a replacement of several files together leaves beside them
// while it renames them one by one: what the next run needs to finish the
// replacement should the process end between two renames, and what tells a
// reader of one of the files that it is in the middle of one.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "file_platform.hpp"

namespace dicttools {

/// One file of a recorded replacement. The two hidden names lie beside the
/// target, in its folder.
struct RecordedFile {
    std::filesystem::path target;  // the full path of the file replaced (its folder's links resolved)
    std::string temporary;         // the new contents' name until renamed over the target
    std::string aside;             // the earlier contents' second name; empty when there was none
    bool operator==(const RecordedFile&) const = default;
};

/// The bytes of a record of `files`: a first line that says what it is,
/// then the three names of each file, each ended by a 0x00 byte (which no
/// name holds), then an end mark, so that a record cut short by the end of
/// its process is told from a whole one.
std::string encode_record(const std::vector<RecordedFile>& files);

/// The files of a whole record; none when `bytes` are not one.
std::optional<std::vector<RecordedFile>> decode_record(std::string_view bytes);

/// The process that made the hidden name whose end, after its prefix, is
/// `rest` ("PID-START-XXXXXXXX"); none for a name of another form.
std::optional<ProcessStamp> maker_of(const std::string& rest);

/// The start of the name of a record whose first file is `first_target`:
/// ".dic.bin.replacing-"; the maker follows as in every hidden name.
std::string record_prefix(const std::filesystem::path& first_target);

/// A record in a folder: where it is, and the process that wrote it.
struct RecordFound {
    std::filesystem::path path;
    ProcessStamp maker;
};

/// The records in `folder`, whoever wrote them.
std::vector<RecordFound> records_in(const std::filesystem::path& folder);

/// The files of the record at `record`; none when it is not a whole one
/// (cut short), or when it cannot be read: then with `error` set.
std::optional<std::vector<RecordedFile>> read_record(const std::filesystem::path& record, std::error_code& error);

/// The record beside `file` that names it (after its links) as one of its
/// targets: `file` is in the middle of a replacement. An empty path when
/// there is none (or it cannot be read).
std::filesystem::path record_naming(const std::filesystem::path& file);

}  // namespace dicttools
