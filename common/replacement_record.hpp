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
    /// The file replaced: in the record's own folder, its name there (so that
    /// a folder moved or copied is finished where it is now); in another
    /// folder, its full path (that folder's links resolved).
    std::filesystem::path target;
    std::string temporary;  // the new contents' name until renamed over the target
    std::string aside;      // the earlier contents' second name; empty when there was none
    bool operator==(const RecordedFile&) const = default;
};

/// The record of a replacement, as one folder of its targets holds it.
struct Record {
    /// The full path (links resolved) of the folder it was written in; empty
    /// in a record of the first form, which named every target by its full
    /// path.
    std::filesystem::path folder;
    std::vector<RecordedFile> files;
    bool operator==(const Record&) const = default;
};

/// The bytes of `record`: a first line that says what it is, then three
/// names for its folder (".", its full path, and none) and three for each
/// file, each ended by a 0x00 byte (which no name holds), then an end mark,
/// so that a record cut short by the end of its process is told from a
/// whole one.
std::string encode_record(const Record& record);

/// The whole record in `bytes`; none when they are not one (cut short, or a
/// name that is neither a single name nor, for a target, a full path).
std::optional<Record> decode_record(std::string_view bytes);

/// The files of `record` found in the folder `here` (a full path, links
/// resolved), each target by its full path: a target named by its name
/// alone lies in `here`.
std::vector<RecordedFile> files_in(const Record& record, const std::filesystem::path& here);

/// Whether `record`, found in `here`, may be finished from there: it names
/// files in `here` only, or `here` is the folder it was written in. A record
/// in a folder moved or copied since must not touch files in other folders:
/// they belong to the record left where it was written (the original's, for
/// a copy).
bool finishable_in(const Record& record, const std::filesystem::path& here);

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

/// The record at `record`; none when it is not a whole one (cut short), or
/// when it cannot be read: then with `error` set.
std::optional<Record> read_record(const std::filesystem::path& record, std::error_code& error);

/// The record beside `file` that names it (after its links) as one of its
/// targets: `file` is in the middle of a replacement. An empty path when
/// there is none (or it cannot be read).
std::filesystem::path record_naming(const std::filesystem::path& file);

}  // namespace dicttools
