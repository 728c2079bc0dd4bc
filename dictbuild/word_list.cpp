#include "word_list.hpp"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <utility>

#include "entry_sort.hpp"
#include "file_reader.hpp"
#include "memory.hpp"

namespace dictbuild {

namespace {

using dicttools::kMaxWordLength;
using dicttools::kMinWordLength;

constexpr char kEndOfFile = '\x1a';

/// Whether there is a file at `path` (that a link leads to), readable or
/// not: only then is a failure to open it more than a missing file.
bool found(const std::filesystem::path& path) {
    std::error_code unknown;
    return std::filesystem::status(path, unknown).type() != std::filesystem::file_type::not_found;
}

/// The high bit of each of the eight bytes of `eight` that lies outside
/// 0x20..0x7E (and maybe of bytes above it): none when all are printable.
constexpr std::uint64_t outside_printable_ascii(std::uint64_t eight) {
    constexpr std::uint64_t kEach = 0x0101010101010101;
    constexpr std::uint64_t kHigh = 0x80 * kEach;
    const std::uint64_t dels_zeroed = eight ^ (0x7F * kEach);
    return (eight & kHigh)                                    // 0x80 and above
           | ((eight - 0x20 * kEach) & ~eight & kHigh)        // below 0x20
           | ((dels_zeroed - kEach) & ~dels_zeroed & kHigh);  // 0x7F
}
static_assert(outside_printable_ascii(0x207E414141414141) == 0 && outside_printable_ascii(0x4141417F41414141) != 0 &&
              outside_printable_ascii(0x414141411F414141) != 0 && outside_printable_ascii(0x8041414141414141) != 0);

/// The `Word` at `at` in `bytes`, which holds it.
template <typename Word>
Word load(std::string_view bytes, std::size_t at) {
    Word word = 0;
    std::memcpy(&word, bytes.data() + at, sizeof word);
    return word;
}

/// Whether `bytes` hold a byte outside 0x20..0x7E: eight bytes at a time
/// (the last eight overlapping the ones before), as every line of the list
/// is looked at.
bool any_outside_printable_ascii(std::string_view bytes) {
    const std::size_t size = bytes.size();
    if (size >= 8) {
        std::uint64_t found = 0;
        for (std::size_t at = 0; at + 8 < size; at += 8) {
            found |= outside_printable_ascii(load<std::uint64_t>(bytes, at));
        }
        return (found | outside_printable_ascii(load<std::uint64_t>(bytes, size - 8))) != 0;
    }
    if (size >= 4) {  // two words of four, overlapping
        return outside_printable_ascii(std::uint64_t{load<std::uint32_t>(bytes, 0)} << 32 |
                                       load<std::uint32_t>(bytes, size - 4)) != 0;
    }
    bool found = false;
    for (const char c : bytes) {
        found |= static_cast<unsigned char>(c - 0x20) >= 0x7F - 0x20;
    }
    return found;
}

}  // namespace

EntryTable::EntryTable() : bytes_(new char[kCapacityBytes]) {
    // Neither the bytes (left uninitialised) nor the reserved entries take
    // memory until they are written.
    entries_.reserve(kMaxEntries);
}

void EntryTable::set_up_ahead(std::size_t bytes) {
    if (used_ + bytes > text_set_up_) {
        const std::size_t step = std::min(kSetUpStep, kCapacityBytes - text_set_up_);
        dicttools::set_up_for_writing(bytes_.get() + text_set_up_, step);
        text_set_up_ += step;
    }
    if (entries_.size() == entries_set_up_) {
        const std::size_t step = std::min(kSetUpStep / sizeof(Entry), kMaxEntries - entries_set_up_);
        dicttools::set_up_for_writing(entries_.data() + entries_set_up_, step * sizeof(Entry));
        entries_set_up_ += step;
    }
}

void EntryTable::push_back(std::string_view entry) {
    assert(!full() && entry.size() <= kMaxWordLength);
    if (used_ + entry.size() > text_set_up_ || entries_.size() == entries_set_up_) {
        set_up_ahead(entry.size());
    }
    copy_word(bytes_.get() + used_, entry);
    const auto line_end_byte = [](char c) { return c == '\n' || c == '\r'; };
    const std::size_t size = entry.size();
    line_end_bytes_at_ends_ |=
        (size > 0 && line_end_byte(entry[size - 1])) || (size > 1 && line_end_byte(entry[size - 2]));
    entries_.push_back({static_cast<std::uint32_t>(used_), static_cast<std::uint32_t>(entry.size())});
    used_ += entry.size();
}

bool printable_ascii(std::string_view bytes) { return !any_outside_printable_ascii(bytes); }

std::string_view Line::stored() const { return printable ? text : trim_line_ends(entry()); }

WordListReader::WordListReader(LineObserver* observer) : observer_(observer) {}

bool WordListReader::read(std::string_view piece) {
    InputSigns& signs = list_.signs;
    if (ctrl_z_last_ && !piece.empty()) {
        signs.ctrl_z_line = signs.lines + 1;
        done_ = true;
    }
    if (done_ || ctrl_z_last_) {
        return !done_;
    }
    const std::size_t end_of_file = piece.find(kEndOfFile);
    const bool bytes_after_end = end_of_file != std::string_view::npos && end_of_file + 1 < piece.size();
    if (end_of_file != std::string_view::npos) {
        piece = piece.substr(0, end_of_file);
    }
    if (signs.start.size() < InputSigns::kStartSize) {
        signs.start.append(piece.substr(0, InputSigns::kStartSize - signs.start.size()));
    }
    // Line ends are found once, by one pass over the piece; a line that lies
    // whole in the piece is taken where it is.
    std::size_t next = 0;
    while (next < piece.size() && !done_) {
        const void* found = std::memchr(piece.data() + next, '\n', piece.size() - next);
        const std::size_t line_end =
            found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - piece.data()) : piece.size();
        const std::string_view bytes = piece.substr(next, line_end - next);
        next = line_end;
        if (found == nullptr) {
            hold(bytes);  // the line goes on in the next piece
            break;
        }
        ++next;
        ++signs.line_feeds;
        if (line_length_ == 0) {
            end_line(bytes, bytes.size(), !bytes.empty() && bytes.back() == '\r', true);
        } else {
            hold(bytes);
            end_line(held_line(), line_length_, last_was_cr_, true);
        }
    }
    // CRs are few or none in most lists: counted at the speed of memchr.
    const char* const consumed = piece.data() + next;
    for (const char* cr = piece.data(); cr < consumed; ++cr) {
        cr = static_cast<const char*>(std::memchr(cr, '\r', static_cast<std::size_t>(consumed - cr)));
        if (cr == nullptr) {
            break;
        }
        ++carriage_returns_;
    }
    if (!done_ && end_of_file != std::string_view::npos) {
        signs.ctrl_z_line = bytes_after_end ? signs.lines + 1 : 0;
        ctrl_z_last_ = !bytes_after_end;  // the next piece tells
        done_ = bytes_after_end;
    }
    return !done_;
}

void WordListReader::hold(std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    if (line_length_ < kLineHeld) {
        std::memcpy(line_ + line_length_, bytes.data(), std::min(bytes.size(), kLineHeld - line_length_));
    }
    line_length_ += bytes.size();
    last_was_cr_ = bytes.back() == '\r';
}

void WordListReader::end_line(std::string_view text, std::size_t length, bool ends_in_cr, bool has_line_end) {
    if (has_line_end && ends_in_cr) {  // CR LF: the CR belongs to the line end
        --length;
        ++line_end_carriage_returns_;
    }
    Line line{++list_.signs.lines, text.substr(0, std::min(length, kLineHeld)), length, LineFate::kept};
    line.printable = !any_outside_printable_ascii(line.text);
    list_.signs.lines_with_text += length > 0 ? 1 : 0;
    line_length_ = 0;
    last_was_cr_ = false;

    EntryTable& entries = list_.entries;
    const std::string_view entry = line.entry();
    if (length > kMaxWordLength) {
        line.fate = LineFate::too_long;
    } else if (!entries.empty() && same_word(entries.back(), entry)) {
        line.fate = LineFate::duplicate;
    } else if (entries.full() && line.stored().size() < kMinWordLength) {
        line.fate = LineFate::no_word_past_table;  // nothing that could reach the image is lost
    } else if (entries.full()) {
        line.fate = LineFate::beyond_table;  // a word is lost
        list_.truncated = true;
        done_ = true;
    } else {
        entries.push_back(entry);
    }
    if (observer_ != nullptr) {
        observer_->line(line);
    }
}

WordList WordListReader::finish() {
    // A CR is lone when a byte other than LF follows it: not the input's last.
    std::size_t last_carriage_returns = line_end_carriage_returns_;
    if (!list_.truncated && line_length_ > 0) {  // a 0x1A may have ended the input, not the line
        last_carriage_returns += last_was_cr_ ? 1 : 0;
        end_line(held_line(), line_length_, last_was_cr_, false);
    }
    list_.signs.lone_carriage_returns = carriage_returns_ - last_carriage_returns;
    done_ = true;
    return std::move(list_);
}

WordList read_word_list(std::string_view source, LineObserver* observer) {
    WordListReader reader(observer);
    reader.read(source);
    return reader.finish();
}

WordListFile read_word_list_file(const std::filesystem::path& path, const dicttools::StopRequest& stop,
                                 LineObserver* observer) {
    dicttools::FileReader file(path, dicttools::FileReader::kDefaultPieceSize, &stop);
    WordListFile result = read_word_list_from(file, stop, observer);
    if (result.status == WordListFile::Status::cannot_open && found(path)) {
        result.status = WordListFile::Status::cannot_read;
    }
    return result;
}

WordListFile read_word_list_from(dicttools::FileReader& file, const dicttools::StopRequest& stop,
                                 LineObserver* observer) {
    using Status = dicttools::FileReader::Status;
    WordListFile result;
    WordListReader reader(observer);
    while (file.status() == Status::reading) {
        if (stop.requested()) {
            result.status = WordListFile::Status::interrupted;
            return result;
        }
        if (!reader.read(file.next())) {
            break;
        }
    }
    switch (file.status()) {
        case Status::cannot_open:
            result.status = WordListFile::Status::cannot_open;
            result.reason = file.reason();
            return result;
        case Status::cannot_read:
            result.status = WordListFile::Status::cannot_read;
            result.reason = file.reason();
            return result;
        case Status::interrupted:
            result.status = WordListFile::Status::interrupted;
            return result;
        case Status::reading:
        case Status::ended:
            break;
    }
    result.list = reader.finish();
    return result;
}

}  // namespace dictbuild
