#include "entry_sort.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "dictionary_order.hpp"

namespace dictbuild {

namespace {

using dicttools::compare_case_insensitive;
using dicttools::dictionary_less;
using dicttools::fold_case;

constexpr bool is_line_end(char c) { return c == '\n' || c == '\r'; }

/// A string sort on the case-folded bytes: each pass orders a range by the
/// byte at `depth` only, then goes on with the next byte within each group
/// of entries that share it. Entries that end at `depth` are equal ignoring
/// case and go in byte order. A pass over a range that shares its byte
/// moves nothing, so long shared starts cost one look at each byte, never
/// a comparison of whole entries.
///  - Large ranges: an MSD radix sort in place (an American flag sort),
///    dealing the entries into 256 buckets at once.
///  - Smaller ones: a multikey quicksort, three ways around one byte.
///  - The smallest: insertion sort.
///
/// Within a range every entry has the same folded bytes before `depth` and
/// is at least `depth` long, so comparing from `depth` on decides
/// dictionary_less().
class DictionarySort {
public:
    explicit DictionarySort(const EntryTable& table) : table_(table) {}

    void sort(std::span<Entry> entries) {
        keys_.resize(entries.size());
        sort_range(entries.data(), keys_.data(), entries.size(), 0);
    }

private:
    using Counts = std::array<std::uint32_t, 256>;

    /// Ranges at least this long are dealt into buckets; below it, the 256
    /// buckets cost more than they save. Quicksort ranges stay shorter than
    /// this, which bounds its recursion.
    static constexpr std::size_t kRadixRange = 1024;
    /// Ranges shorter than this are finished by insertion sort.
    static constexpr std::size_t kSmallRange = 16;

    /// The folded byte at `depth`, or 0 past the end (an entry holds no
    /// 0x00, which would sort the same way).
    std::uint8_t key(Entry entry, std::size_t depth) const {
        return depth < entry.length ? fold_case(table_.text(entry)[depth]) : 0;
    }

    bool less_from(Entry a, Entry b, std::size_t depth) const {
        const std::string_view x = table_.text(a);
        const std::string_view y = table_.text(b);
        const int folded = compare_case_insensitive(x.substr(depth), y.substr(depth));
        return folded != 0 ? folded < 0 : x < y;
    }

    /// Entries equal ignoring case, at most differing in case.
    void sort_equal_folded(Entry* first, std::size_t count) const {
        std::sort(first, first + count,
                  [this](Entry a, Entry b) { return dictionary_less(table_.text(a), table_.text(b)); });
    }

    void sort_range(Entry* first, std::uint8_t* keys, std::size_t count, std::size_t depth) {
        Counts sizes{};
        while (true) {
            if (count < kRadixRange) {
                quicksort(first, count, depth);
                return;
            }
            sizes.fill(0);
            for (std::size_t i = 0; i < count; ++i) {
                keys[i] = key(first[i], depth);
                ++sizes[keys[i]];
            }
            if (sizes[keys[0]] != count) {
                break;
            }
            if (keys[0] == 0) {  // all end here
                sort_equal_folded(first, count);
                return;
            }
            ++depth;  // all share this byte
        }
        deal(first, keys, sizes);

        Entry* bucket = first;
        for (std::size_t byte = 0; byte < sizes.size(); ++byte) {
            const std::size_t size = sizes[byte];
            if (byte == 0) {
                sort_equal_folded(bucket, size);
            } else if (size > 1) {
                sort_range(bucket, keys + (bucket - first), size, depth + 1);
            }
            bucket += size;
        }
    }

    void quicksort(Entry* first, std::size_t count, std::size_t depth) const {
        while (count >= kSmallRange) {
            const std::uint8_t pivot = median_key(first, count, depth);
            // [0, less) below the pivot, [less, next) equal, [greater, count) above.
            std::size_t less = 0;
            std::size_t next = 0;
            std::size_t greater = count;
            while (next < greater) {
                const std::uint8_t byte = key(first[next], depth);
                if (byte < pivot) {
                    std::swap(first[less++], first[next++]);
                } else if (byte > pivot) {
                    std::swap(first[next], first[--greater]);
                } else {
                    ++next;
                }
            }
            quicksort(first, less, depth);
            quicksort(first + greater, count - greater, depth);
            first += less;
            count = greater - less;
            if (pivot == 0) {  // these end here
                sort_equal_folded(first, count);
                return;
            }
            ++depth;
        }
        insertion_sort(first, count, depth);
    }

    std::uint8_t median_key(const Entry* first, std::size_t count, std::size_t depth) const {
        const std::uint8_t a = key(first[0], depth);
        const std::uint8_t b = key(first[count / 2], depth);
        const std::uint8_t c = key(first[count - 1], depth);
        return std::max(std::min(a, b), std::min(std::max(a, b), c));
    }

    /// Moves each entry into the bucket of its key, following each cycle of
    /// the permutation once.
    static void deal(Entry* first, std::uint8_t* keys, const Counts& sizes) {
        Counts next{};
        Counts end{};
        std::uint32_t position = 0;
        for (std::size_t byte = 0; byte < sizes.size(); ++byte) {
            next[byte] = position;
            position += sizes[byte];
            end[byte] = position;
        }
        for (std::size_t byte = 0; byte < sizes.size(); ++byte) {
            while (next[byte] < end[byte]) {
                Entry entry = first[next[byte]];
                std::uint8_t entry_key = keys[next[byte]];
                while (entry_key != byte) {
                    const std::uint32_t place = next[entry_key]++;
                    std::swap(entry, first[place]);
                    std::swap(entry_key, keys[place]);
                }
                first[next[byte]] = entry;
                keys[next[byte]] = entry_key;
                ++next[byte];
            }
        }
    }

    void insertion_sort(Entry* first, std::size_t count, std::size_t depth) const {
        for (std::size_t i = 1; i < count; ++i) {
            const Entry entry = first[i];
            std::size_t place = i;
            for (; place > 0 && less_from(entry, first[place - 1], depth); --place) {
                first[place] = first[place - 1];
            }
            first[place] = entry;
        }
    }

    const EntryTable& table_;
    std::vector<std::uint8_t> keys_;  // the byte each entry is dealt by, beside it
};

}  // namespace

void trim_line_ends(EntryTable& table) {
    for (Entry& entry : table.entries()) {
        const std::string_view text = table.text(entry);
        const std::size_t length = text.size();
        if (length > 2 && is_line_end(text[length - 2])) {
            entry.length = static_cast<std::uint32_t>(length - 2);
        } else if (length > 1 && is_line_end(text[length - 1])) {
            entry.length = static_cast<std::uint32_t>(length - 1);
        }
    }
}

void sort_entries(EntryTable& table) { DictionarySort(table).sort(table.entries()); }

void empty_duplicates(EntryTable& table) {
    const std::span<Entry> entries = table.entries();
    for (std::size_t k = 0; k + 1 < entries.size(); ++k) {
        if (table.text(entries[k]) == table.text(entries[k + 1])) {
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
