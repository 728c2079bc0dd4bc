#include "dictinfo.hpp"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <tuple>
#include <variant>
#include <vector>

#include "file_input.hpp"
#include "image_check.hpp"
#include "image_layout.hpp"
#include "image_packer.hpp"
#include "interrupts.hpp"
#include "list_check.hpp"
#include "program_arguments.hpp"
#include "prom_image.hpp"
#include "replacement_record.hpp"
#include "shell_words.hpp"

namespace dictinfo {

namespace {

using dicttools::kImageSize;

constexpr std::string_view kUsage =
    "usage: dictinfo [--linear | --prom] FILE\n"
    "       dictinfo [--linear | --prom] --words FILE\n"
    "       dictinfo [--linear | --prom] --diff FILE_A FILE_B\n"
    "       dictinfo --word-list FILE\n"
    "       dictinfo --help | --version\n"
    "\n"
    "Reads a 524288-byte dictionary image: linear (dic.uns, dic.sav) or\n"
    "address-scrambled for a PROM (dic.bin), telling the two apart by which\n"
    "reading gives a sound layout unless --linear or --prom says which.\n"
    "  FILE             prints the index table and checks the layout\n"
    "  --words FILE     writes the words, one per line, in image order, and says\n"
    "                   on standard error when dictbuild would not build the same\n"
    "                   image from them\n"
    "  --diff A B       names the words that are in one image and not the other\n"
    "  --word-list FILE reads a word list as dictbuild would, writing nothing:\n"
    "                   the lines kept, skipped and dropped, likely mistakes\n"
    "                   (a wrong encoding or line end, no word that fits), the\n"
    "                   table of the image it would build, the final address,\n"
    "                   and whether it fits\n"
    "  -h, --help       shows this help\n"
    "  --version        shows the version\n"
    "A FILE that begins with - is named after --, or as ./-FILE.\n"
    "Exit status: 0 sound (and, with --diff, the same words; with --word-list,\n"
    "the list fits), 1 a layout problem, a short or overlong file (or different\n"
    "words; with --words, or words that would not build the same image; with\n"
    "--word-list, a list too large), 2 a file that cannot be read or output that\n"
    "cannot be written, 64 wrong arguments, 74 this help or the version that\n"
    "cannot be written.\n";

/// A broken image can have a problem in every word: the rest are counted.
constexpr std::size_t kMaxFindingsShown = 100;

enum class Reading { detect, linear, prom };

struct Arguments {
    enum class Mode { summary, words, diff, word_list } mode = Mode::summary;
    Reading reading = Reading::detect;
    std::vector<std::string> files;
};

constexpr dicttools::Option kOptions[] = {
    {"linear", 0, false}, {"prom", 0, false}, {"words", 0, false}, {"diff", 0, false}, {"word-list", 0, false},
};
constexpr dicttools::CommandLine kCommandLine{"dictinfo", kUsage, kOptions};

/// What the command line asks for, or why it is refused (usage error, or
/// --help or --version).
std::variant<Arguments, dicttools::EarlyExit> parse(std::span<const std::string> args) {
    auto read = dicttools::parse_arguments(args, kCommandLine);
    if (auto* early = std::get_if<dicttools::EarlyExit>(&read)) {
        return std::move(*early);
    }
    const dicttools::Arguments& given = std::get<dicttools::Arguments>(read);
    const auto refuse = [](const std::string& complaint) { return dicttools::usage_error("dictinfo", complaint); };
    const auto option = [](const std::string& name) { return dicttools::unexpected_argument("--" + name); };
    Arguments parsed;
    for (const dicttools::Arguments::Given& each : given.options) {
        if (each.name == "linear" || each.name == "prom") {
            if (parsed.reading != Reading::detect) {
                return refuse(option(each.name));
            }
            parsed.reading = each.name == "linear" ? Reading::linear : Reading::prom;
        } else {
            if (parsed.mode != Arguments::Mode::summary) {
                return refuse(option(each.name));
            }
            parsed.mode = each.name == "words"  ? Arguments::Mode::words
                          : each.name == "diff" ? Arguments::Mode::diff
                                                : Arguments::Mode::word_list;
        }
    }
    if (parsed.mode == Arguments::Mode::word_list && parsed.reading != Reading::detect) {
        return refuse(option(parsed.reading == Reading::linear ? "linear" : "prom"));  // a word list is no image
    }
    parsed.files = given.operands;
    const std::size_t wanted = parsed.mode == Arguments::Mode::diff ? 2 : 1;
    if (parsed.files.size() > wanted) {
        return refuse(dicttools::unexpected_argument(parsed.files[wanted]));
    }
    if (parsed.files.size() < wanted) {
        return refuse(wanted == 2 ? "--diff needs two files" : "no file named");
    }
    return parsed;
}

/// An image as a file holds it, turned into linear order.
struct LoadedImage {
    std::string path;                 // as given
    std::string name;                 // printable()
    std::vector<std::uint8_t> bytes;  // kImageSize bytes, zero beyond what the file held
    std::size_t file_size = 0;        // how many bytes of an image the file held
    std::size_t present = 0;          // how many from the start of `bytes` came whole from the file
    bool longer = false;
    bool text = false;    // it looks like a word list
    std::string reading;  // how it was read, for the heading
    ImageReport report;
};

std::optional<LoadedImage> load(const std::string& path, Reading reading, std::ostream& err) {
    const dicttools::FileContents file = dicttools::read_file(path, kImageSize + 1);
    if (file.status != dicttools::FileContents::Status::ok) {
        err << "dictinfo: cannot read " << dicttools::printable_name(path) << ": " << file.reason << '\n';
        return std::nullopt;
    }
    LoadedImage image;
    image.path = path;
    image.name = dicttools::printable_name(path);
    if (const std::filesystem::path record = dicttools::record_naming(path); !record.empty()) {
        err << "dictinfo: " << image.name << " is one of a pair in the middle of a replacement ("
            << dicttools::printable_name(record.filename())
            << " beside it): one file may be new and the other earlier until dictbuild runs there again\n";
    }
    image.file_size = std::min(file.bytes.size(), kImageSize);
    image.present = image.file_size;
    image.longer = file.bytes.size() > kImageSize;
    image.text = looks_like_text(file.bytes);
    image.bytes.assign(kImageSize, 0);
    std::copy_n(file.bytes.begin(), image.present, image.bytes.begin());

    if (reading == Reading::detect && image.present == kImageSize) {
        ImageReading read = read_either_way(image.bytes);
        image.bytes = std::move(read.linear);
        image.report = std::move(read.report);
        if (read.prom) {
            image.reading = image.report.sound() ? "a PROM image (address-scrambled)"
                                                 : "a PROM image (address-scrambled; neither reading is sound)";
        } else {
            image.reading = image.report.sound() ? "a linear image" : "a linear image (neither reading is sound)";
        }
        return image;
    }
    if (reading == Reading::detect) {
        image.reading = "a linear image (a short file is read as linear)";  // only a whole PROM image unscrambles
    } else if (reading == Reading::prom) {
        image.bytes = dicttools::make_linear_image(image.bytes);
        image.present = linear_bytes_present(image.present);  // the bytes missing are not read as zeros
        image.reading = "a PROM image (address-scrambled, as asked)";
    } else {
        image.reading = "a linear image (as asked)";
    }
    image.report = check_image(image.bytes, image.present);
    return image;
}

std::string padded(const std::string& text, std::size_t width) {
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

/// Says what is wrong beyond the layout itself; true when anything is.
bool report_file_size(const LoadedImage& image, std::ostream& out) {
    if (image.longer) {
        out << "the file is longer than an image: only its first 524288 bytes were read\n";
    }
    if (image.report.short_file()) {
        out << "the file is short: " << image.file_size << " of 524288 bytes; the rest was not checked";
        if (image.present < image.file_size) {
            out << " (read as a PROM image, it holds the first " << counted(image.present, "byte", "bytes")
                << " of the linear image whole)";
        }
        out << '\n';
    }
    return image.longer || image.report.short_file();
}

/// Prints the findings of one kind ("problem", "note"), the first
/// kMaxFindingsShown of them and how many more there are.
void report_findings(const std::vector<Finding>& findings, const char* kind, std::ostream& out) {
    for (std::size_t i = 0; i < findings.size() && i < kMaxFindingsShown; ++i) {
        out << kind << " at " << hex(findings[i].address) << ": " << findings[i].what << '\n';
    }
    if (findings.size() > kMaxFindingsShown) {
        const std::string more = std::string("more ") + kind;
        out << "and " << counted(findings.size() - kMaxFindingsShown, more, more + 's') << '\n';
    }
}

/// Prints what is wrong with the file and its layout, and the notes; true
/// when anything is wrong.
bool report_trouble(const LoadedImage& image, std::ostream& out) {
    const bool file_trouble = report_file_size(image, out);
    report_findings(image.report.problems, "problem", out);
    report_findings(image.report.notes, "note", out);
    return file_trouble || !image.report.problems.empty();
}

std::string cut_note(const Group& group, std::size_t present) {
    if (group.address >= present && present < kImageSize) {
        return "  beyond the end of the file";
    }
    return group.cut ? "  cut" : "";
}

/// The index table: one row per length, then the totals. The addresses
/// take 5 hex digits, or 6 in every row when a slot points beyond them.
void write_table(const std::vector<Group>& groups, std::size_t present, std::ostream& out) {
    const bool wide = std::any_of(groups.begin(), groups.end(), [](const Group& g) { return g.address > 0xFFFFF; });
    const int digits = wide ? 6 : 5;
    const std::size_t width = 2 + static_cast<std::size_t>(digits);
    out << "length  address" << std::string(width - 7, ' ') << "    words     bytes\n";
    std::size_t words = 0;
    std::size_t bytes = 0;
    for (std::size_t length = dicttools::kMinWordLength; length <= dicttools::kMaxWordLength; ++length) {
        const auto group =
            std::find_if(groups.begin(), groups.end(), [length](const Group& g) { return g.length == length; });
        out << padded(std::to_string(length), 6) << "  ";
        if (group == groups.end()) {
            // A slot the file does not hold whole tells nothing: not "no words".
            const bool slot_held = dicttools::kSlotSize * (length + 1) <= present;
            out << padded(slot_held ? "-" : "?", width) << padded(slot_held ? "0" : "?", 9)
                << padded(slot_held ? "0" : "?", 10) << '\n';
            continue;
        }
        out << hex(group->address, digits) << padded(std::to_string(group->words), 9)
            << padded(std::to_string(group->bytes), 10) << cut_note(*group, present) << '\n';
        words += group->words;
        bytes += group->bytes;
    }
    out << "total" << padded(std::to_string(words), 3 + width + 9) << padded(std::to_string(bytes), 10) << '\n';
}

/// The final address, and how much of the image is used; never a byte
/// count beyond the image as bytes to spare.
void write_final_address(const ImageReport& report, std::ostream& out) {
    const std::size_t address = report.final_address;
    const std::string over = address > kImageSize ? counted(address - kImageSize, "byte", "bytes") : "";
    if (report.present < dicttools::kFirstGroupAddress) {
        out << "final address not known: the file ends inside the index\n";
    } else if (report.cut() && report.short_file()) {
        out << "final address not known: the file ends inside a group\n";
    } else if (report.cut() && !over.empty()) {
        out << "final address at least " << dictbuild::final_address_text(address)
            << ": the word list did not fit, by at least " << over << '\n';
    } else if (report.cut()) {
        out << "final address not known: a group runs past the end of the image\n";
    } else if (!over.empty()) {
        out << "final address " << dictbuild::final_address_text(address) << ": beyond the end of the image, by "
            << over << '\n';
    } else {
        out << "final address " << dictbuild::final_address_text(address) << " (as dictbuild prints it): " << address
            << " of 524288 bytes used, " << kImageSize - address << " to spare\n";
    }
}

/// Says, when the file looks like a word list, how to have it read as one.
void hint_word_list(const LoadedImage& image, std::ostream& out) {
    if (image.text) {
        out << "hint: " << image.name << " looks like a text word list, not an image: dictinfo --word-list "
            << dicttools::shell_operand(image.path, dicttools::platform_shell()) << " reads it as dictbuild would\n";
    }
}

ExitStatus summary(const LoadedImage& image, std::ostream& out) {
    const ImageReport& report = image.report;
    out << image.name << ": " << image.reading << ", " << image.file_size << " bytes\n\n";
    write_table(report.groups, image.present, out);
    write_final_address(report, out);
    out << '\n';
    const bool trouble = report_trouble(image, out);
    if (report.present < dicttools::kFirstGroupAddress) {
        out << "the layout cannot be checked: the file does not hold the whole index\n";
    } else if (report.sound()) {
        out << "the layout is sound\n";
    } else {
        out << counted(report.problems.size(), "layout problem", "layout problems") << '\n';
    }
    hint_word_list(image, out);
    return trouble ? ExitStatus::problem : ExitStatus::sound;
}

/// Says which words the image holds yet --words and --diff leave out.
void report_left_out(const LoadedImage& image, std::ostream& err) {
    const std::vector<std::size_t>& left_out = image.report.left_out;
    if (!left_out.empty()) {
        err << "dictinfo: " << image.name << ": "
            << counted(left_out.size(), "word holding a 0x00 is", "words holding a 0x00 are")
            << " left out, the first at " << hex(left_out.front()) << '\n';
    }
}

ExitStatus words(const LoadedImage& image, std::ostream& out, std::ostream& err) {
    for (const std::string_view word : image.report.words) {
        if (!(out << word << '\n')) {
            return ExitStatus::cannot_read;  // the words are not all there to judge; the caller says why
        }
    }
    report_trouble(image, err);
    report_left_out(image, err);
    hint_word_list(image, err);
    if (!image.report.rebuildable() || image.longer) {
        err << "dictinfo: dictbuild would not build this image again from these words\n";
        return ExitStatus::problem;
    }
    return ExitStatus::sound;
}

ExitStatus diff(const LoadedImage& a, const LoadedImage& b, std::ostream& out, std::ostream& err) {
    const std::set<std::string_view> in_a(a.report.words.begin(), a.report.words.end());
    const std::set<std::string_view> in_b(b.report.words.begin(), b.report.words.end());
    bool differ = false;
    for (const auto& [these, others, name] : {std::tuple{&in_a, &in_b, &a.name}, std::tuple{&in_b, &in_a, &b.name}}) {
        for (const std::string_view word : *these) {
            if (!others->contains(word)) {
                out << "only in " << *name << ": " << printable(word) << '\n';
                differ = true;
            }
        }
    }
    bool trouble = false;
    for (const LoadedImage* image : {&a, &b}) {
        if (!image->report.sound() || image->report.short_file() || image->longer) {
            err << image->name << ":\n";
            trouble = report_trouble(*image, err) || trouble;
            report_left_out(*image, err);
            hint_word_list(*image, err);
        }
    }
    return differ || trouble ? ExitStatus::problem : ExitStatus::sound;
}

/// "17, 230 and 4501", or "1, 2, ..., 10 and 5 more" when `count` goes beyond the numbers listed.
std::string line_numbers(const std::vector<std::size_t>& numbers, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        text += (i == 0                                               ? ""
                 : i + 1 == numbers.size() && count == numbers.size() ? " and "
                                                                      : ", ") +
                std::to_string(numbers[i]);
    }
    return count > numbers.size() ? text + " and " + std::to_string(count - numbers.size()) + " more" : text;
}

void write_line_counts(const std::string& name, const ListReport& report, std::ostream& out) {
    const LineCounts& lines = report.lines;
    out << name << ": " << counted(lines.lines, "line read", "lines read") << ", "
        << counted(lines.kept, "entry kept", "entries kept") << '\n';
    const auto numbered = [&out](std::size_t count, const std::vector<std::size_t>& numbers) {
        if (count > 0) {
            out << " (line" << (count > 1 ? "s " : " ") << line_numbers(numbers, count) << ')';
        }
    };
    out << "lines over " << dicttools::kMaxWordLength << " characters, skipped: " << lines.too_long;
    numbered(lines.too_long, lines.too_long_lines);
    out << "\nlines cut short at a 0x00 byte: " << lines.cut_at_nul;
    numbered(lines.cut_at_nul, lines.cut_at_nul_lines);
    out << "\nblank lines: " << lines.blank << ", one-character lines: " << lines.one_character
        << " (never packed)\nduplicates removed: " << lines.duplicates + report.duplicates_after_sort << " ("
        << lines.duplicates << " repeating the line before, " << report.duplicates_after_sort
        << " found after sorting)\nwords with bytes outside printable ASCII: " << lines.not_printable << '\n';
    for (const ListedLine& line : lines.not_printable_lines) {
        out << "  line " << line.number << ": \"" << printable(line.entry) << "\"\n";
    }
    if (lines.not_printable > lines.not_printable_lines.size()) {
        out << "  and " << lines.not_printable - lines.not_printable_lines.size() << " more\n";
    }
    if (report.truncated) {
        out << "the entry table is full: dictbuild reads nothing from line " << lines.beyond_table
            << " on (\"WARNING: There are too many lines in " << name << " - truncated.\")\n";
    }
    for (const dictbuild::LikelyMistake mistake : report.mistakes) {
        out << "likely mistake: " << name << ' ' << dictbuild::describe(mistake) << '\n';
    }
}

/// Whether the image fits, and when not, by how much and what is cut or lost.
void write_verdict(const ListReport& report, std::ostream& out) {
    if (report.fits()) {
        out << "it fits, with " << counted(kImageSize - report.packed.final_address, "byte", "bytes") << " to spare\n";
        return;
    }
    out << "too large by " << counted(report.needed - kImageSize, "byte", "bytes") << ": the list needs "
        << report.needed << " of 524288\n";
    std::vector<std::size_t> lost;
    std::size_t lost_words = 0;
    for (std::size_t length = dicttools::kMinWordLength; length <= dicttools::kMaxWordLength; ++length) {
        const NeededGroup& group = report.by_length[length];
        if (group.words == 0) {
            continue;
        }
        const bool crosses = std::find_if(report.groups.begin(), report.groups.end(), [length](const Group& g) {
                                 return g.length == length && g.cut;
                             }) != report.groups.end();
        if (crosses && group.fitting > 0) {
            out << "the group of length " << length << " is cut: " << group.fitting << " of its " << group.words
                << " words fit" << (group.fitting == group.words ? ", its terminator does not" : "") << '\n';
        } else if (group.fitting == 0) {
            lost.push_back(length);
            lost_words += group.words;
        }
    }
    if (!lost.empty()) {
        out << (lost.size() == 1 ? "length " : "lengths ") << line_numbers(lost, lost.size()) << " lost: " << lost_words
            << (lost_words == 1 ? " word\n" : " words\n");
    }
}

ExitStatus word_list(const std::string& path, std::ostream& out, std::ostream& err) {
    LineTally tally;
    dictbuild::WordListFile file = dictbuild::read_word_list_file(path, dicttools::ManualStop{}, &tally);
    if (file.status != dictbuild::WordListFile::Status::ok) {
        err << "dictinfo: cannot read " << dicttools::printable_name(path) << ": " << file.reason << '\n';
        return ExitStatus::cannot_read;
    }
    errno = 0;  // as in run(): only a failed output may leave a reason now
    const ListReport report = check_word_list(std::move(file.list), tally.counts());
    write_line_counts(dicttools::printable_name(path), report, out);
    out << '\n';
    write_table(report.groups, kImageSize, out);
    out << "Final address used is " << dictbuild::final_address_text(report.packed.final_address) << '\n';
    write_verdict(report, out);
    return report.fits() ? ExitStatus::sound : ExitStatus::problem;
}

/// Flushes `out` and says on `err` when anything written to it was lost,
/// with the system's reason when errno holds one (run() clears it before
/// it writes); not when the reader of a pipe has gone, which needs no
/// telling (as `dictinfo --words dic.uns | head`).
bool output_written(std::ostream& out, std::ostream& err) {
    if (out && out.flush()) {
        return true;
    }
    const int error = errno;
    if (error == EPIPE) {
        return false;
    }
    err << "dictinfo: cannot write the output"
        << (error != 0 ? ": " + std::error_code(error, std::generic_category()).message() : std::string()) << '\n';
    return false;
}

ExitStatus run(const Arguments& arguments, std::ostream& out, std::ostream& err) {
    errno = 0;
    if (arguments.mode == Arguments::Mode::word_list) {
        return word_list(arguments.files[0], out, err);
    }
    std::vector<LoadedImage> images;
    for (const std::string& file : arguments.files) {
        std::optional<LoadedImage> image = load(file, arguments.reading, err);
        if (!image) {
            return ExitStatus::cannot_read;
        }
        images.push_back(std::move(*image));
    }
    errno = 0;  // a reason left from reading the files is no reason for a failed output
    switch (arguments.mode) {
        case Arguments::Mode::words:
            return words(images[0], out, err);
        case Arguments::Mode::diff:
            return diff(images[0], images[1], out, err);
        default:
            return summary(images[0], out);
    }
}

}  // namespace

ExitStatus run_dictinfo(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    const auto parsed = parse(args);
    if (const auto* early = std::get_if<dicttools::EarlyExit>(&parsed)) {
        return static_cast<ExitStatus>(dicttools::finish_early(*early, "dictinfo", out, err));
    }
    const ExitStatus status = run(std::get<Arguments>(parsed), out, err);
    return output_written(out, err) ? status : ExitStatus::cannot_read;
}

}  // namespace dictinfo
