#include "image_check.hpp"

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "dictionary_order.hpp"
#include "image_layout.hpp"
#include "prom_image.hpp"

namespace dictinfo {

namespace {

using dicttools::kFirstGroupAddress;
using dicttools::kImageSize;
using dicttools::kMaxWordLength;
using dicttools::kMinWordLength;
using dicttools::read_slot;
using dicttools::slot_offset;

constexpr char kCtrlZ = '\x1a';

std::string quoted(std::string_view word) { return "\"" + printable(word) + "\""; }

std::vector<Group> groups_in_index(std::span<const std::uint8_t> image) {
    std::vector<Group> groups;
    for (std::size_t length = kMinWordLength; length <= kMaxWordLength; ++length) {
        if (const std::size_t address = read_slot(image, length); address != 0) {
            groups.push_back({length, address});
        }
    }
    return groups;
}

class Checker {
public:
    Checker(std::span<const std::uint8_t> image, std::size_t present)
        : image_(image), limit_(std::min(present, kImageSize)) {
        report_.present = present;
    }

    ImageReport run() {
        check_index();
        report_.groups = groups_in_index(image_);
        std::size_t expected = kFirstGroupAddress;
        report_.final_address = expected;
        bool follows_a_sound_group = true;
        for (std::size_t g = 0; g < report_.groups.size(); ++g) {
            Group& group = report_.groups[g];
            const bool last = g + 1 == report_.groups.size();
            const std::size_t next = last ? kImageSize : report_.groups[g + 1].address;
            if (follows_a_sound_group && group.address != expected) {
                problem(slot_offset(group.length), "the slot of length " + std::to_string(group.length) +
                                                       " points at " + hex(group.address) + ", but " +
                                                       (g == 0 ? "the first group starts at " + hex(expected)
                                                               : "the group before it ends at " + hex(expected)));
            }
            follows_a_sound_group = read_group(group, next, last) && !group.cut;
            expected = group.address + group.bytes;
            if (!group.cut) {
                report_.final_address = expected;
            }
        }
        report_.end = expected;
        check_tail();
        return std::move(report_);
    }

private:
    void problem(std::size_t address, std::string what) { report_.problems.push_back({address, std::move(what)}); }
    void note(std::size_t address, std::string what) { report_.notes.push_back({address, std::move(what)}); }

    void check_index() {
        for (std::size_t address = 0; address < slot_offset(kMinWordLength); ++address) {
            if (image_[address] != 0) {
                problem(address, "bytes 0x00000 to 0x00007 must be zero");
                break;
            }
        }
        for (std::size_t length = kMinWordLength; length <= kMaxWordLength; ++length) {
            const std::size_t last_byte = slot_offset(length) + 3;
            if (image_[last_byte] != 0) {
                problem(last_byte, "byte 3 of the slot of length " + std::to_string(length) + " is " +
                                       hex(image_[last_byte], 2) + ", not 0");
            }
        }
    }

    /// Reads the words of `group` up to its terminator, or to `next` (where
    /// the next group starts) or the end of what is there. Returns whether
    /// the group is whole and closed as it should be, or cut as dictbuild
    /// cuts the group that crosses the end of the image.
    bool read_group(Group& group, std::size_t next, bool last) {
        const std::size_t length = group.length;
        const std::string name = "the group of length " + std::to_string(length);
        if (group.address > kImageSize || (group.address == kImageSize && !last)) {
            problem(slot_offset(length), "the slot of length " + std::to_string(length) + " points outside the image");
            return false;
        }
        std::string_view previous;
        std::unordered_map<std::string_view, std::size_t> seen;  // each word of the group, at its first address
        for (std::size_t at = group.address;; at += length) {
            if (at >= next && !last) {
                problem(at, name + " has no 0x00 terminator before the next group");
                group.bytes = at - group.address;
                return false;
            }
            if (at >= limit_) {
                return cut(group, at, last);
            }
            if (image_[at] == 0) {
                group.bytes = at + 1 - group.address;
                if (group.words == 0) {
                    problem(at, name + " holds no word");
                    return false;
                }
                return true;
            }
            if (at + length > next && !last) {
                problem(at, name + " has no 0x00 terminator before the next group");
                group.bytes = at - group.address;
                return false;
            }
            const std::size_t room = std::min(length, limit_ - at);
            const std::string_view word(reinterpret_cast<const char*>(image_.data()) + at, room);
            if (const std::size_t zero = word.find('\0'); zero != std::string_view::npos) {
                if (room < length) {
                    problem(at, name + " is not closed: " + hex(at) + " holds " + hex(image_[at], 2) +
                                    ", not its 0x00 terminator, and a word of " + std::to_string(length) +
                                    " does not fit before the end of the " + (limit_ == kImageSize ? "image" : "file"));
                    group.bytes = at + zero + 1 - group.address;
                    return false;
                }
                // A byte lost in a whole word: the words after it still stand
                // at their places, and the terminator will end the group.
                problem(at + zero, "the word of length " + std::to_string(length) + " at " + hex(at) + " holds a 0x00");
                report_.left_out.push_back(at);
                continue;
            }
            if (room < length) {
                if (!previous.empty() && dicttools::compare_case_insensitive(previous.substr(0, room), word) > 0) {
                    // What dictbuild cut would have come after `previous`.
                    problem(at, quoted(previous) + " and the cut word " + quoted(word) +
                                    " are out of order (an overwritten terminator?)");
                    group.bytes = limit_ - group.address;
                    return false;
                }
                return cut(group, at, last);
            }
            check_word(at, previous, word, seen);
            report_.words.push_back(word);
            ++group.words;
            previous = word;
        }
    }

    /// The group runs into the end of the image (an oversized word list
    /// leaves it so) or of a short file at `at`, where a word or the
    /// terminator would begin.
    bool cut(Group& group, std::size_t at, bool last) {
        group.cut = true;
        group.bytes = limit_ > group.address ? limit_ - group.address : 0;
        if (limit_ < kImageSize) {
            return true;  // the short file says so
        }
        const std::string length = std::to_string(group.length);
        if (!last) {
            problem(group.address,
                    "the group of length " + length + " runs past the end of the image, yet longer lengths follow");
            return false;
        }
        // The word that did not fit (or the first of a group wholly beyond
        // the image, which dictbuild starts only with a word), then at least
        // the terminator.
        const bool word_cut = at < limit_ || group.words == 0;
        report_.final_address = at + (word_cut ? group.length : 0) + 1;
        if (group.words == 0 && at == kImageSize) {
            note(slot_offset(group.length),
                 "the group of length " + length + " starts at the end of the image: the word list did not fit");
        } else {
            note(group.address, "the group of length " + length + " at " + hex(group.address) +
                                    " is cut at the end of the image: the word list did not fit");
        }
        return true;
    }

    /// What makes a word come back otherwise from dictbuild's reading,
    /// clean-up and sort, given after `previous` in the same group, which
    /// holds the words `seen` before it.
    void check_word(std::size_t at, std::string_view previous, std::string_view word,
                    std::unordered_map<std::string_view, std::size_t>& seen) {
        const auto said = [&] { return "the word " + quoted(word) + " at " + hex(at); };  // only when needed
        const std::size_t length = word.size();
        if (const std::size_t z = word.find(kCtrlZ); z != std::string_view::npos) {
            problem(at + z,
                    said() + " holds a 0x1A (Ctrl-Z), which ends a word list: dictbuild reads nothing after it");
        }
        if (const std::size_t lf = word.find('\n'); lf != std::string_view::npos) {
            problem(at + lf, said() + " holds a LF, which ends a line of a word list: dictbuild reads it as two");
        }
        if (word.back() == '\r') {
            problem(at + length - 1, said() + " ends in a CR, which dictbuild takes for part of the line end");
        } else if (length > 2 && word[length - 2] == '\r') {
            problem(at + length - 2,
                    said() + " has a CR before its last character, which dictbuild cuts off with what follows");
        }
        // Anywhere in the group: between two copies may stand a case variant.
        if (const auto [first, fresh] = seen.emplace(word, at); !fresh) {
            problem(at, said() + " is the same as the one " +
                            (first->second + length == at ? std::string("before it") : "at " + hex(first->second)) +
                            ": dictbuild keeps only one");
        }
        if (previous.empty() || previous == word) {
            return;
        }
        const int order = dicttools::compare_case_insensitive(previous, word);
        if (order > 0) {
            problem(at, quoted(previous) + " and " + quoted(word) + " are out of order");
        } else if (order == 0 && dicttools::dictionary_less(word, previous)) {
            note(at, quoted(previous) + " and " + quoted(word) +
                         " differ only in case, and dictbuild puts them the other way round");
        }
    }

    void check_tail() {
        for (std::size_t address = report_.end; address < limit_; ++address) {
            if (image_[address] != 0) {
                const auto others = std::count_if(image_.begin() + static_cast<std::ptrdiff_t>(address),
                                                  image_.begin() + static_cast<std::ptrdiff_t>(limit_),
                                                  [](std::uint8_t byte) { return byte != 0; });
                problem(address, counted(static_cast<std::size_t>(others), "non-zero byte", "non-zero bytes") +
                                     " after the last group, the first " + hex(image_[address], 2));
                return;
            }
        }
    }

    std::span<const std::uint8_t> image_;
    std::size_t limit_;  // the end of what the file held
    ImageReport report_;
};

}  // namespace

bool ImageReport::short_file() const { return present < kImageSize; }

bool ImageReport::cut() const {
    return std::any_of(groups.begin(), groups.end(), [](const Group& group) { return group.cut; });
}

ImageReport check_image(std::span<const std::uint8_t> image, std::size_t present) {
    return Checker(image, present).run();
}

bool plausible_index(std::span<const std::uint8_t> image) {
    const auto first_slot = image.begin() + static_cast<std::ptrdiff_t>(slot_offset(kMinWordLength));
    if (std::any_of(image.begin(), first_slot, [](std::uint8_t byte) { return byte != 0; })) {
        return false;
    }
    std::size_t previous = 0;  // the address of the group before, 0 before the first
    for (std::size_t length = kMinWordLength; length <= kMaxWordLength; ++length) {
        if (image[slot_offset(length) + 3] != 0) {
            return false;
        }
        const std::size_t address = read_slot(image, length);
        if (address == 0) {
            continue;
        }
        if (previous == 0 ? address != kFirstGroupAddress : address <= previous || address >= kImageSize) {
            return false;
        }
        previous = address;
    }
    return previous != 0;
}

ImageReading read_either_way(std::span<const std::uint8_t> image) {
    ImageReading reading;
    reading.linear.assign(image.begin(), image.end());
    ImageReport linear = check_image(reading.linear, kImageSize);
    std::vector<std::uint8_t> unscrambled = dicttools::make_linear_image(image);
    ImageReport prom = check_image(unscrambled, kImageSize);
    const bool linear_index = plausible_index(image);
    const bool prom_index = plausible_index(unscrambled);
    const bool prom_reads_better =
        linear_index != prom_index ? prom_index : prom.problems.size() < linear.problems.size();
    reading.some_index_plausible = linear_index || prom_index;
    reading.prom = !linear.sound() && (prom.sound() || prom_reads_better);
    if (reading.prom) {
        reading.linear = std::move(unscrambled);  // the words it views move with it
        reading.report = std::move(prom);
    } else {
        reading.report = std::move(linear);
    }
    return reading;
}

std::size_t linear_bytes_present(std::size_t present) {
    std::size_t whole = 0;
    while (whole < kImageSize && dicttools::scramble(static_cast<std::uint32_t>(whole)) < present) {
        ++whole;
    }
    return whole;
}

bool looks_like_text(std::string_view bytes) {
    const auto line_ends = std::count(bytes.begin(), bytes.end(), '\n');
    return line_ends > 0 && line_ends > std::count(bytes.begin(), bytes.end(), '\0');
}

std::string hex(std::size_t value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*zX", digits, value);
    return text;
}

std::string counted(std::size_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + ' ' + std::string(count == 1 ? one : many);
}

}  // namespace dictinfo
