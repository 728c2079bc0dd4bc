#include "word_list.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

#include "file_reader.hpp"

namespace dictbuild {

namespace {

using dicttools::kMaxWordLength;

constexpr char kEndOfFile = '\x1a';
constexpr std::size_t kLineHeld = kMaxWordLength + 1;  // a word and the CR of its CR LF

}  // namespace

EntryTable::EntryTable() : bytes_(new char[kCapacityBytes]) {
    // Neither the bytes (left uninitialised) nor the reserved entries take
    // memory until they are written.
    entries_.reserve(kMaxEntries);
}

void EntryTable::push_back(std::string_view entry) {
    assert(!full() && entry.size() <= kMaxWordLength);
    std::memcpy(bytes_.get() + used_, entry.data(), entry.size());
    entries_.push_back({static_cast<std::uint32_t>(used_), static_cast<std::uint32_t>(entry.size())});
    used_ += entry.size();
}

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
    std::size_t next = 0;
    while (next < piece.size() && !done_) {
        if (piece[next] == '\n') {
            ++signs.line_feeds;
            end_line(true);
            ++next;
        } else if (line_length_ > kLineHeld) {
            // Too long for a word already: on to its end at full speed.
            const std::size_t line_end = std::min(piece.find('\n', next), piece.size());
            pass_over(piece.substr(next, line_end - next));
            next = line_end;
        } else {
            take_byte(piece[next]);
            ++next;
        }
    }
    if (!done_ && end_of_file != std::string_view::npos) {
        signs.ctrl_z_line = bytes_after_end ? signs.lines + 1 : 0;
        ctrl_z_last_ = !bytes_after_end;  // the next piece tells
        done_ = bytes_after_end;
    }
    return !done_;
}

// A CR is lone when another byte than LF follows it: whether the line's
// last one is, the next byte tells.

void WordListReader::take_byte(char byte) {
    if (line_length_ < kLineHeld) {
        line_[line_length_] = byte;
    }
    ++line_length_;
    list_.signs.lone_carriage_returns += last_was_cr_ ? 1 : 0;
    last_was_cr_ = byte == '\r';
}

void WordListReader::pass_over(std::string_view bytes) {
    line_length_ += bytes.size();
    const auto carriage_returns = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\r'));
    list_.signs.lone_carriage_returns += carriage_returns + (last_was_cr_ ? 1 : 0);
    last_was_cr_ = bytes.back() == '\r';
    list_.signs.lone_carriage_returns -= last_was_cr_ ? 1 : 0;
}

void WordListReader::end_line(bool has_line_end) {
    const std::size_t length = has_line_end && last_was_cr_ ? line_length_ - 1 : line_length_;
    Line line{++list_.signs.lines, std::string_view(line_, std::min(length, kLineHeld)), length, LineFate::kept};
    list_.signs.lines_with_text += length > 0 ? 1 : 0;
    line_length_ = 0;
    last_was_cr_ = false;

    EntryTable& entries = list_.entries;
    const std::string_view entry = line.entry();
    if (length > kMaxWordLength) {
        line.fate = LineFate::too_long;
    } else if (!entries.empty() && entries.back() == entry) {
        line.fate = LineFate::duplicate;
    } else if (entries.full()) {
        line.fate = LineFate::beyond_table;  // a word that would have been kept is lost
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
    if (!list_.truncated && line_length_ > 0) {  // a 0x1A may have ended the input, not the line
        end_line(false);
    }
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
    return read_word_list_from(file, stop, observer);
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
