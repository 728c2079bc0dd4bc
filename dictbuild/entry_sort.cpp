#include "entry_sort.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "dictionary_order.hpp"
#include "memory.hpp"
#include "run_together.hpp"

namespace dictbuild {

namespace {

using dicttools::dictionary_less;
using dicttools::fold_case;

constexpr bool is_line_end(char c) { return c == '\n' || c == '\r'; }

/// An entry and its folded bytes from some depth on, the first eight of
/// them as one big-endian integer (0 past the end of the entry): comparing
/// two keys compares eight bytes at once, without going to the text.
struct KeyedEntry {
    std::uint64_t key;
    Entry entry;
};

constexpr std::size_t kKeyBytes = sizeof(KeyedEntry::key);

/// fold_case() of each of the eight bytes of `bytes` at once.
constexpr std::uint64_t fold_case_8(std::uint64_t bytes) {
    constexpr std::uint64_t kEach = 0x0101010101010101;
    const std::uint64_t low_bits = bytes & (0x7F * kEach);
    const std::uint64_t from_a = low_bits + (0x80 - 'A') * kEach;      // bit 7 set where the low bits are 'A' or more
    const std::uint64_t past_z = low_bits + (0x80 - 'Z' - 1) * kEach;  // and where they are past 'Z'
    const std::uint64_t upper = from_a & ~past_z & ~bytes & (0x80 * kEach);
    return bytes | (upper >> 2);  // bit 5 is what sets 'a'..'z' apart from 'A'..'Z'
}
static_assert(fold_case_8(0x404142595A5B6061) == 0x406162797A5B6061 &&
              fold_case_8(0xC1DAFF7A00000000) == 0xC1DAFF7A00000000);

/// A string sort on the case-folded bytes. Entries are sorted on their
/// keys; only entries whose keys tie go to the text again, for the next
/// eight bytes. Entries that end within equal keys are equal ignoring case
/// and go in byte order.
///  - Ranges too large for the keyed buffer: an MSD radix sort in place (an
///    American flag sort) on the text, one byte at a time, until the
///    buckets fit it.
///  - Keyed ranges: keyed and dealt by their first byte in one pass into
///    the buffer, then the same radix sort on the bytes of the keys and,
///    for the smaller ranges, a comparison sort on the whole keys.
///
/// Within a range every entry has the same folded bytes before `depth` and
/// is at least `depth` long, so the order from `depth` on decides
/// dictionary_less(). Entries hold no 0x00, which sorts as the end of an
/// entry does.
class DictionarySort {
public:
    /// A sort of up to `count` entries of `table` at once.
    DictionarySort(const EntryTable& table, std::size_t count)
        : table_(table),
          keyed_(dicttools::set_up_vector<KeyedEntry>(std::min(count, kKeyedRange))),
          bytes_(dicttools::set_up_vector<std::uint8_t>(count > kKeyedRange ? count : 0)) {}

    void sort(std::span<Entry> entries) {
        if (entries.size() < kTwoThreadRange) {
            sort_range(entries.data(), bytes_.data(), entries.size(), 0);
            return;
        }
        // Dealt by the first byte here; the buckets are then sorted in two
        // parts of about the same size at once, each with its own buffers.
        Entry* const first = entries.data();
        const Counts sizes = count_bytes(first, bytes_.data(), entries.size(), 0);
        deal(first, bytes_.data(), sizes);
        std::size_t split = 0;
        std::size_t before_split = 0;
        while (split < sizes.size() && 2 * before_split + sizes[split] <= entries.size()) {
            before_split += sizes[split++];  // the bucket lies mostly in the first half
        }
        DictionarySort other(table_, kKeyedRange);  // its own keyed buffer; the dealt bytes are shared
        dicttools::run_together(
            [&] { sort_buckets(first, bytes_.data(), sizes, 0, split, 0); },
            [&] { other.sort_buckets(first + before_split, bytes_.data() + before_split, sizes, split, 256, 0); });
    }

private:
    using Counts = std::array<std::uint32_t, 256>;

    /// Ranges at least this long are sorted on two threads: below it,
    /// starting one costs more than it saves.
    static constexpr std::size_t kTwoThreadRange = 16384;

    /// Ranges up to this long are sorted on keys, in a buffer set aside
    /// once: small enough to stay in the cache with the entries' text.
    static constexpr std::size_t kKeyedRange = 4096;
    /// Keyed ranges at least this long are dealt into buckets by one byte
    /// of the key; below it, the 256 buckets cost more than they save.
    static constexpr std::size_t kRadixRange = 256;
    /// Keyed ranges shorter than this are finished by insertion sort.
    static constexpr std::size_t kSmallRange = 16;

    /// The folded byte at `depth`, or 0 past the end.
    std::uint8_t byte_at(Entry entry, std::size_t depth) const {
        return depth < entry.length ? fold_case(table_.text(entry)[depth]) : 0;
    }

    /// The key of `entry` at `depth`: its eight bytes read at once (those
    /// past its end masked off) and folded together.
    std::uint64_t key_at(Entry entry, std::size_t depth) const {
        if (depth >= entry.length) {
            return 0;
        }
        const std::size_t count = std::min<std::size_t>(entry.length - depth, kKeyBytes);
        const std::string_view onward = table_.text_onward(entry).substr(depth);
        std::uint64_t bytes = 0;
        if (onward.size() >= kKeyBytes) {
            std::memcpy(&bytes, onward.data(), kKeyBytes);  // one load
        } else {
            std::memcpy(&bytes, onward.data(), count);  // the last entry of the table
        }
        if constexpr (std::endian::native == std::endian::little) {
            bytes = __builtin_bswap64(bytes);
        }
        return fold_case_8(bytes & (~std::uint64_t{0} << (8 * (kKeyBytes - count))));
    }

    /// Entries equal ignoring case, at most differing in case.
    template <typename Item, typename EntryOf>
    void sort_equal_folded(Item* first, std::size_t count, EntryOf entry_of) const {
        std::sort(first, first + count, [this, entry_of](const Item& a, const Item& b) {
            return dictionary_less(table_.text(entry_of(a)), table_.text(entry_of(b)));
        });
    }

    /// How many of the `count` entries from `first` have each folded byte at
    /// `depth`, noting each entry's byte in `bytes`.
    Counts count_bytes(const Entry* first, std::uint8_t* bytes, std::size_t count, std::size_t depth) const {
        Counts sizes{};
        for (std::size_t i = 0; i < count; ++i) {
            bytes[i] = byte_at(first[i], depth);
            ++sizes[bytes[i]];
        }
        return sizes;
    }

    void sort_range(Entry* first, std::uint8_t* bytes, std::size_t count, std::size_t depth) {
        Counts sizes;
        while (true) {
            if (count <= kKeyedRange) {
                sort_keyed(first, count, depth);
                return;
            }
            sizes = count_bytes(first, bytes, count, depth);
            if (sizes[bytes[0]] != count) {
                break;
            }
            if (bytes[0] == 0) {  // all end here
                sort_equal_folded(first, count, [](Entry entry) { return entry; });
                return;
            }
            ++depth;  // all share this byte
        }
        deal(first, bytes, sizes);
        sort_buckets(first, bytes, sizes, 0, sizes.size(), depth);
    }

    /// Sorts the buckets of the bytes from `from_byte` up to `to_byte`, dealt
    /// by their byte at `depth` (`sizes` counts them), that start at `first`.
    void sort_buckets(Entry* first, std::uint8_t* bytes, const Counts& sizes, std::size_t from_byte,
                      std::size_t to_byte, std::size_t depth) {
        std::size_t start = 0;
        for (std::size_t byte = from_byte; byte < to_byte; ++byte) {
            const std::size_t size = sizes[byte];
            if (byte == 0) {  // these end at `depth`
                sort_equal_folded(first, size, [](Entry entry) { return entry; });
            } else if (size > 1) {
                sort_range(first + start, bytes + start, size, depth + 1);
            }
            start += size;
        }
    }

    /// Keys the range and deals it by the byte at `depth` on the way, into
    /// the keyed buffer: the entries are read in their order, each once,
    /// and written where their bucket goes on. Each bucket is then sorted on
    /// the rest of its keys.
    void sort_keyed(Entry* first, std::size_t count, std::size_t depth) {
        Counts sizes{};
        for (std::size_t i = 0; i < count; ++i) {
            ++sizes[byte_at(first[i], depth)];
        }
        KeyedEntry* keyed = keyed_.data();
        auto [next, end] = bounds(sizes);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t key = key_at(first[i], depth);
            keyed[next[key >> (8 * (kKeyBytes - 1))]++] = {key, first[i]};
        }
        KeyedEntry* bucket = keyed;
        for (std::size_t byte = 0; byte < sizes.size(); ++byte) {
            if (byte == 0) {  // these end at `depth`
                sort_equal_folded(bucket, sizes[0], [](const KeyedEntry& item) { return item.entry; });
            } else if (sizes[byte] > 1) {
                sort_on_keys(bucket, sizes[byte], 1, depth);
            }
            bucket += sizes[byte];
        }
        for (std::size_t i = 0; i < count; ++i) {
            first[i] = keyed[i].entry;
        }
    }

    /// Sorts entries keyed at `depth` whose keys share their first `shared` bytes.
    void sort_on_keys(KeyedEntry* first, std::size_t count, std::size_t shared, std::size_t depth) {
        Counts sizes;  // filled only for a range large enough to deal
        while (count >= kRadixRange) {
            if (shared == kKeyBytes) {
                sort_ties(first, count, depth);
                return;
            }
            const std::size_t shift = 8 * (kKeyBytes - 1 - shared);
            const auto byte_of = [shift](const KeyedEntry& item) { return (item.key >> shift) & 0xFF; };
            sizes.fill(0);
            for (std::size_t i = 0; i < count; ++i) {
                ++sizes[byte_of(first[i])];
            }
            const std::size_t byte = byte_of(first[0]);
            if (sizes[byte] != count) {
                deal(first, sizes, shift);
                KeyedEntry* bucket = first;
                for (std::size_t value = 0; value < sizes.size(); ++value) {
                    if (value == 0) {
                        sort_ties(bucket, sizes[0], depth);  // all end here: their keys are equal
                    } else if (sizes[value] > 1) {
                        sort_on_keys(bucket, sizes[value], shared + 1, depth);
                    }
                    bucket += sizes[value];
                }
                return;
            }
            if (byte == 0) {
                sort_ties(first, count, depth);
                return;
            }
            ++shared;
        }
        if (count < kSmallRange) {
            insertion_sort(first, count);
        } else {
            std::sort(first, first + count, [](const KeyedEntry& a, const KeyedEntry& b) { return a.key < b.key; });
        }
        for (std::size_t tie = 0; tie < count;) {
            std::size_t end = tie + 1;
            while (end < count && first[end].key == first[tie].key) {
                ++end;
            }
            if (end - tie > 1) {
                sort_ties(first + tie, end - tie, depth);
            }
            tie = end;
        }
    }

    /// Entries keyed at `depth` whose keys are all equal: on to the next
    /// eight bytes, unless the entries end within these.
    void sort_ties(KeyedEntry* first, std::size_t count, std::size_t depth) {
        if (count < 2) {
            return;
        }
        if ((first[0].key & 0xFF) == 0) {
            sort_equal_folded(first, count, [](const KeyedEntry& item) { return item.entry; });
            return;
        }
        depth += kKeyBytes;
        for (std::size_t i = 0; i < count; ++i) {
            first[i].key = key_at(first[i].entry, depth);
        }
        sort_on_keys(first, count, 0, depth);
    }

    static void insertion_sort(KeyedEntry* first, std::size_t count) {
        for (std::size_t i = 1; i < count; ++i) {
            const KeyedEntry item = first[i];
            std::size_t place = i;
            for (; place > 0 && item.key < first[place - 1].key; --place) {
                first[place] = first[place - 1];
            }
            first[place] = item;
        }
    }

    /// Where each bucket of `sizes` begins, and where it ends.
    static std::pair<Counts, Counts> bounds(const Counts& sizes) {
        Counts start;
        Counts end;
        std::uint32_t position = 0;
        for (std::size_t byte = 0; byte < sizes.size(); ++byte) {
            start[byte] = position;
            position += sizes[byte];
            end[byte] = position;
        }
        return {start, end};
    }

    /// Moves each entry into the bucket of its byte (`sizes` counts them),
    /// its byte moving with it, following each cycle of the permutation once.
    static void deal(Entry* first, std::uint8_t* bytes, const Counts& sizes) {
        auto [next, end] = bounds(sizes);
        for (std::size_t byte = 0; byte < sizes.size(); ++byte) {
            while (next[byte] < end[byte]) {
                Entry entry = first[next[byte]];
                std::uint8_t entry_byte = bytes[next[byte]];
                while (entry_byte != byte) {
                    const std::uint32_t place = next[entry_byte]++;
                    std::swap(entry, first[place]);
                    std::swap(entry_byte, bytes[place]);
                }
                first[next[byte]] = entry;
                bytes[next[byte]] = entry_byte;
                ++next[byte];
            }
        }
    }

    /// The same for keyed entries, by the byte of the key at `shift`.
    static void deal(KeyedEntry* first, const Counts& sizes, std::size_t shift) {
        auto [next, end] = bounds(sizes);
        for (std::size_t byte = 0; byte < sizes.size(); ++byte) {
            while (next[byte] < end[byte]) {
                KeyedEntry item = first[next[byte]];
                for (std::size_t item_byte = (item.key >> shift) & 0xFF; item_byte != byte;
                     item_byte = (item.key >> shift) & 0xFF) {
                    std::swap(item, first[next[item_byte]++]);
                }
                first[next[byte]++] = item;
            }
        }
    }

    const EntryTable& table_;
    std::vector<KeyedEntry> keyed_;
    std::vector<std::uint8_t> bytes_;  // the byte each entry is dealt by, beside it, for the largest ranges
};

}  // namespace

std::string_view trim_line_ends(std::string_view entry) {
    while (true) {
        const std::size_t length = entry.size();
        if (length > 2 && is_line_end(entry[length - 2])) {
            entry.remove_suffix(2);
        } else if (length > 1 && is_line_end(entry[length - 1])) {
            entry.remove_suffix(1);
        } else {
            return entry;
        }
    }
}

void trim_line_ends(EntryTable& table) {
    if (!table.line_end_bytes_at_ends()) {
        return;  // nothing to take
    }
    for (Entry& entry : table.entries()) {
        entry.length = static_cast<std::uint32_t>(trim_line_ends(table.text(entry)).size());
    }
}

void sort_entries(EntryTable& table) { DictionarySort(table, table.size()).sort(table.entries()); }

void empty_duplicates(EntryTable& table) {
    const std::span<Entry> entries = table.entries();
    for (std::size_t k = 0; k + 1 < entries.size(); ++k) {
        if (same_word(table.text(entries[k]), table.text(entries[k + 1]))) {
            entries[k].length = 0;
        }
    }
}

void sort_and_clean_up(EntryTable& table) {
    trim_line_ends(table);
    sort_entries(table);
    empty_duplicates(table);
}

}  // namespace dictbuild
