// Word list reader: turns the bytes of "dic.txt", handed over in pieces as
// they are read, into the entry table. Memory stays the same whatever the
// input: the table is fixed in size and a line is held only as far as it
// could be a word.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "file_reader.hpp"
#include "image_layout.hpp"
#include "interrupts.hpp"

namespace dictbuild {

/// Capacity of the entry table; input beyond it is not read.
inline constexpr std::size_t kMaxEntries = 200000;

/// Copies `bytes`, at most 32 of them, to `to` in two moves of a fixed size
/// (overlapping) rather than through a call: every word is copied this way
/// once as it is read and once as it is packed.
inline void copy_word(char* to, std::string_view bytes) {
    const std::size_t size = bytes.size();
    const char* from = bytes.data();
    const auto copy_ends = [to, from, size](auto fixed) {
        std::memcpy(to, from, fixed);
        std::memcpy(to + size - fixed, from + size - fixed, fixed);
    };
    if (size >= 16) {
        copy_ends(std::integral_constant<std::size_t, 16>{});
    } else if (size >= 8) {
        copy_ends(std::integral_constant<std::size_t, 8>{});
    } else if (size >= 4) {
        copy_ends(std::integral_constant<std::size_t, 4>{});
    } else {
        for (std::size_t i = 0; i < size; ++i) {
            to[i] = from[i];
        }
    }
}

/// Whether the words `a` and `b`, at most 32 bytes each, are equal byte for
/// byte: compared as copy_word() copies, without a call.
inline bool same_word(std::string_view a, std::string_view b) {
    const std::size_t size = a.size();
    if (b.size() != size) {
        return false;
    }
    const auto ends_equal = [&a, &b, size](auto fixed) {
        return std::memcmp(a.data(), b.data(), fixed) == 0 &&
               std::memcmp(a.data() + size - fixed, b.data() + size - fixed, fixed) == 0;
    };
    if (size >= 16) {
        return ends_equal(std::integral_constant<std::size_t, 16>{});
    }
    if (size >= 8) {
        return ends_equal(std::integral_constant<std::size_t, 8>{});
    }
    if (size >= 4) {
        return ends_equal(std::integral_constant<std::size_t, 4>{});
    }
    return a == b;
}

/// Where one entry's text lies in its EntryTable: four bytes, so that the
/// sort moves little.
struct Entry {
    std::uint32_t offset : 24 = 0;  // below EntryTable::kCapacityBytes
    std::uint32_t length : 8 = 0;   // at most kMaxWordLength
};

/// The entry table: up to kMaxEntries entries of up to kMaxWordLength bytes,
/// in storage set aside once for the whole table (memory is taken up only as
/// entries are added). The later stages reorder the entries and shorten them
/// in place.
class EntryTable {
public:
    static constexpr std::size_t kCapacityBytes = kMaxEntries * dicttools::kMaxWordLength;
    static_assert(kCapacityBytes < std::size_t{1} << 24 && dicttools::kMaxWordLength < 256, "an Entry holds its place");

    EntryTable();

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    bool full() const { return entries_.size() == kMaxEntries; }

    std::string_view text(Entry entry) const { return {bytes_.get() + entry.offset, entry.length}; }
    /// The text from `entry` on to the end of the last entry added: the
    /// entry and those stored after it, for reading a few bytes at once.
    std::string_view text_onward(Entry entry) const { return {bytes_.get() + entry.offset, used_ - entry.offset}; }
    std::string_view operator[](std::size_t index) const { return text(entries_[index]); }
    std::string_view back() const { return text(entries_.back()); }

    /// Appends a copy of `entry`. The table must not be full, and `entry`
    /// holds at most kMaxWordLength bytes.
    void push_back(std::string_view entry);
    /// Whether an entry was added with a CR or LF among its last two bytes,
    /// which trim_line_ends() may take: in most lists none was.
    bool line_end_bytes_at_ends() const { return line_end_bytes_at_ends_; }

    /// The entries in table order. Only their order and lengths may be
    /// changed, and a length only made smaller.
    std::span<Entry> entries() { return entries_; }
    std::span<const Entry> entries() const { return entries_; }

private:
    /// Memory is set up this much at a time, ahead of the entries that will
    /// fill it, rather than page by page as they are written.
    static constexpr std::size_t kSetUpStep = std::size_t{256} * 1024;

    /// Sets up the memory of the next step of text or of entries, whichever
    /// the entry `bytes` long about to be added would go past.
    void set_up_ahead(std::size_t bytes);

    std::unique_ptr<char[]> bytes_;
    std::size_t used_ = 0;
    std::vector<Entry> entries_;
    bool line_end_bytes_at_ends_ = false;
    std::size_t text_set_up_ = 0;     // bytes of text set up
    std::size_t entries_set_up_ = 0;  // entries set up
};

/// What became of one line of the word list.
enum class LineFate {
    kept,          // stored as the next entry
    too_long,      // more than kMaxWordLength characters before its line end: skipped whole
    duplicate,     // its entry equals the entry kept just before it: dropped
    beyond_table,  // it would have been kept but the table is full: reading ends with it
    /// The table is full, but its entry is shorter than kMinWordLength once
    /// trimmed (see Line::stored()), so nothing that could reach the image
    /// is lost: dropped, and reading goes on.
    no_word_past_table,
};

/// One line of the word list as the reader took it.
struct Line {
    std::size_t number = 0;  // counted from 1 over every line of the file
    /// The line without its line end (LF, or CR LF). Of a line longer than
    /// kMaxWordLength + 1 bytes only the first kMaxWordLength + 1 are here.
    std::string_view text;
    std::size_t length = 0;  // the whole line's length without its line end
    LineFate fate = LineFate::kept;
    /// Every byte of `text` is printable ASCII (printable_ascii()): it holds
    /// no 0x00, CR or byte of another encoding, and is its own entry.
    bool printable = false;

    /// The entry the line gives (or would have given): its text up to its first 0x00.
    std::string_view entry() const { return printable ? text : text.substr(0, text.find('\0')); }
    /// The entry as the image would store it: trim_line_ends() of entry().
    std::string_view stored() const;
};

/// Whether every byte of `bytes` lies in 0x20..0x7E, printable ASCII.
bool printable_ascii(std::string_view bytes);

/// Told of every line the reader takes, in file order, as it takes it. The
/// viewed text lasts only for the call.
class LineObserver {
public:
    virtual ~LineObserver() = default;
    virtual void line(const Line& line) = 0;
};

/// What the bytes read say about how the list was saved; see likely_mistakes().
struct InputSigns {
    static constexpr std::size_t kStartSize = 256;
    std::string start;                      // the first bytes read, at most kStartSize
    std::size_t lines = 0;                  // lines taken, the last one without line end included
    std::size_t lines_with_text = 0;        // lines of at least one character
    std::size_t line_feeds = 0;             // LF bytes
    std::size_t lone_carriage_returns = 0;  // CR bytes followed by a byte other than LF
    std::size_t ctrl_z_line = 0;            // the line a 0x1A with bytes after it ended the list on, else 0

    bool operator==(const InputSigns&) const = default;
};

/// The entries of one word list, in file order.
struct WordList {
    EntryTable entries;
    /// True when the table was full and a further line that gives a word
    /// would have been kept: a word was lost.
    bool truncated = false;
    InputSigns signs;
};

/// Splits the word list into entries, one per line, applying the text-mode
/// rules of the word list on every platform alike:
///  - a 0x1A (Ctrl-Z) byte ends the file;
///  - CR LF counts as one line end, a CR on its own is an ordinary byte;
///  - the line end itself is not part of the entry; a last line without a
///    line end keeps all its characters;
///  - a line of more than kMaxWordLength characters before its line end
///    cannot be a word and is skipped whole;
///  - an entry ends at its first 0x00 byte;
///  - an entry equal (byte for byte) to the last one kept is dropped;
///  - blank lines become empty entries, which count but are never packed.
/// Nothing else is validated: bytes are kept as they are. At most
/// kMaxEntries entries are kept; beyond them, lines that give no word (see
/// LineFate::no_word_past_table) are passed over, and reading stops at the
/// first that would have been kept and gives one: `truncated` then says so.
///
/// The input may be cut into pieces anywhere: the entries are the same.
class WordListReader {
public:
    /// `observer`, if any, must outlive the reader.
    explicit WordListReader(LineObserver* observer = nullptr);

    /// Takes the next piece of the input. Returns false once no more input
    /// is wanted: a 0x1A ended the text, or the full table turned a line
    /// away. What follows that point is ignored, in this piece and later ones
    /// (of a 0x1A that ends a piece, the next piece only tells whether bytes
    /// follow it).
    bool read(std::string_view piece);

    /// Ends the input (a last line without line end is taken now) and hands
    /// over the list. Call it once, last.
    WordList finish();

private:
    static constexpr std::size_t kLineHeld = dicttools::kMaxWordLength + 1;  // a word and the CR of its CR LF

    void hold(std::string_view bytes);  // more of a line that goes on past this piece
    std::string_view held_line() const { return {line_, std::min(line_length_, kLineHeld)}; }
    /// Takes the line of `length` bytes (without its LF) whose first bytes, at
    /// least the first kLineHeld, are `text`.
    void end_line(std::string_view text, std::size_t length, bool ends_in_cr, bool has_line_end);

    LineObserver* observer_;
    WordList list_;
    bool done_ = false;
    std::size_t line_length_ = 0;                // bytes of the current line so far
    bool last_was_cr_ = false;                   // the current line's last byte so far is a CR
    bool ctrl_z_last_ = false;                   // a 0x1A ended the last piece: whether bytes follow it is still open
    std::size_t carriage_returns_ = 0;           // CR bytes read
    std::size_t line_end_carriage_returns_ = 0;  // of them, those of CR LF line ends
    char line_[kLineHeld] = {};                  // the start of a line that goes on past a piece
};

/// Reads the whole of `source` through a WordListReader.
WordList read_word_list(std::string_view source, LineObserver* observer = nullptr);

/// Reading a word-list file.
struct WordListFile {
    enum class Status {
        ok,
        cannot_open,  // there is no file at the path (nor one a link leads to): `reason` gives the system's reason
        cannot_read,  // it is there but cannot be opened or read (no permission, a folder, an I/O error): `reason` says
                      // why
        interrupted,  // `stop` was requested while reading
    };
    Status status = Status::ok;
    std::string reason;
    WordList list;  // what was read, when ok
};

/// Reads the word list at `path` piece by piece, in bounded memory, looking
/// at `stop` between pieces: a list that never ends (a link to a device, a
/// pipe) is read until `stop` is requested or the table is full.
WordListFile read_word_list_file(const std::filesystem::path& path, const dicttools::StopRequest& stop,
                                 LineObserver* observer = nullptr);

/// Reads the word list from `file` (a file or standard input) as
/// read_word_list_file() does.
WordListFile read_word_list_from(dicttools::FileReader& file, const dicttools::StopRequest& stop,
                                 LineObserver* observer = nullptr);

}  // namespace dictbuild
