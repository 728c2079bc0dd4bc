// Fuzz target: arbitrary bytes as "dic.txt" through the whole builder in
// memory, checking the layout of what comes out rather than how it is made.
//
// Input: byte 0 asks for byte0 * 100 generated filler words, of the length
// 2 + byte1 % 28, after the fuzzed text (bytes 2 on), so that the fuzzer
// also reaches full and overflowing images (25500 words of 29 letters are
// well past the end) while each run stays quick.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "dictionary_order.hpp"
#include "entry_sort.hpp"
#include "image_layout.hpp"
#include "image_packer.hpp"
#include "prom_image.hpp"
#include "word_list.hpp"

namespace {

using namespace dictbuild;
using namespace dicttools;

// The checks below walk every byte of the image; comparison tracing there
// would only slow the fuzzer down and guide it nowhere.
#define NOT_COVERAGE_GUIDED __attribute__((no_sanitize("coverage")))

void expect(bool holds, const char* what, std::size_t where = 0) {
    if (!holds) {
        std::fprintf(stderr, "broken invariant: %s (at 0x%zX)\n", what, where);
        std::abort();
    }
}

std::string word_list_from(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data) + std::min<std::size_t>(size, 2),
                     size - std::min<std::size_t>(size, 2));
    const std::size_t fillers = size > 0 ? data[0] * std::size_t{100} : 0;
    const std::size_t length = size > 1 ? 2 + data[1] % 28 : 8;
    text += '\n';
    for (std::size_t i = 0; i < fillers; ++i) {
        std::string word(length, 'a');
        for (std::size_t n = i, pos = length; n > 0 && pos > 0; n /= 52) {
            const auto digit = static_cast<char>(n % 52);
            word[--pos] = digit < 26 ? static_cast<char>('a' + digit) : static_cast<char>('A' + digit - 26);
        }
        text += word + '\n';
    }
    return text;
}

struct Group {
    std::size_t length;
    std::size_t start;
};

/// Every non-zero slot, in order of length.
std::vector<Group> groups_of(const std::vector<std::uint8_t>& image) {
    std::vector<Group> groups;
    for (std::size_t length = kMinWordLength; length <= kMaxWordLength; ++length) {
        const std::size_t slot = slot_offset(length);
        expect(image[slot + 3] == 0, "slot byte 3 is zero", slot);
        const std::size_t start = std::size_t{image[slot]} << 16 | std::size_t{image[slot + 1]} << 8 | image[slot + 2];
        if (start != 0) {
            groups.push_back({length, start});
        }
    }
    return groups;
}

NOT_COVERAGE_GUIDED void check_layout(const PackedImage& packed) {
    const std::vector<std::uint8_t>& image = packed.bytes;
    expect(image.size() == kImageSize, "the image has its size");
    for (std::size_t i = 0; i < slot_offset(kMinWordLength); ++i) {
        expect(image[i] == 0, "the slots of lengths 0 and 1 are zero", i);
    }
    const std::vector<Group> groups = groups_of(image);
    std::size_t expected_start = kFirstGroupAddress;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const Group& group = groups[g];
        const bool last = g + 1 == groups.size();
        const std::size_t end = last ? packed.final_address : groups[g + 1].start;
        expect(group.start == expected_start, "groups lie back to back in ascending length", group.start);
        // Only the group that crosses the end of an image reported too large
        // may start at, or run past, the end.
        expect(group.start < kImageSize || (last && !packed.fits()), "a slot points inside the image", group.start);
        expect(end <= kImageSize || (last && !packed.fits()), "a group ends inside the image", end);
        expect(end > group.start + group.length && (end - group.start - 1) % group.length == 0,
               "a group is whole words and a terminator", group.start);
        std::string_view previous;
        for (std::size_t word = group.start; word + 1 < end && word < kImageSize; word += group.length) {
            const std::size_t in_image = std::min(group.length, kImageSize - word);
            const std::string_view text(reinterpret_cast<const char*>(image.data()) + word, in_image);
            expect(text.find('\0') == std::string_view::npos, "a packed word holds no 0x00", word);
            if (in_image == group.length && previous.size() == group.length) {
                expect(compare_case_insensitive(previous, text) <= 0, "words are in case-insensitive order", word);
                expect(previous != text, "no exact duplicate next to each other", word);
            }
            previous = text;
        }
        if (end - 1 < kImageSize) {
            expect(image[end - 1] == 0, "a group ends with its 0x00", end - 1);
        }
        expected_start = end;
    }
    if (groups.empty()) {
        expect(packed.final_address == kFirstGroupAddress, "an empty image ends where the groups would start");
    }
    for (std::size_t i = packed.final_address; i < kImageSize; ++i) {
        expect(image[i] == 0, "zeros after the last group", i);
    }
}

/// Every byte of the image lies in the PROM image where `scramble` moves it,
/// and the PROM image holds nothing else (`scramble` is a bijection, which
/// the unit tests check for all addresses).
NOT_COVERAGE_GUIDED void check_prom(const std::vector<std::uint8_t>& image, const std::vector<std::uint8_t>& prom) {
    expect(prom.size() == kImageSize, "the PROM image has its size");
    std::size_t nonzero = 0;
    for (std::uint32_t address = 0; address < kImageSize; ++address) {
        if (image[address] != 0) {
            ++nonzero;
            expect(prom[scramble(address)] == image[address], "the PROM image is the image moved by scramble", address);
        }
    }
    expect(static_cast<std::size_t>(std::count_if(prom.begin(), prom.end(), [](std::uint8_t b) { return b != 0; })) ==
               nonzero,
           "the PROM image holds nothing but the moved image");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string source = word_list_from(data, size);
    WordList list = read_word_list(source);
    expect(list.entries.size() <= kMaxEntries, "the entry table keeps its capacity");
    for (const Entry entry : list.entries.entries()) {
        expect(entry.length <= kMaxWordLength, "no entry is longer than a word");
    }
    sort_and_clean_up(list.entries);
    const PackedImage packed = pack_image(list.entries);
    check_layout(packed);
    check_prom(packed.bytes, make_prom_image(packed.bytes));
    return 0;
}
