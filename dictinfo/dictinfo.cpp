#include "dictinfo.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "file_io.hpp"
#include "image_check.hpp"
#include "image_layout.hpp"
#include "prom_image.hpp"
#include "version.hpp"

namespace dictinfo {

namespace {

using dicttools::kImageSize;

constexpr std::string_view kUsage =
    "usage: dictinfo [--linear | --prom] FILE\n"
    "       dictinfo [--linear | --prom] --words FILE\n"
    "       dictinfo [--linear | --prom] --diff FILE_A FILE_B\n"
    "       dictinfo --help | --version\n"
    "\n"
    "Reads a 524288-byte dictionary image: linear (dic.uns, dic.sav) or\n"
    "address-scrambled for a PROM (dic.bin), telling the two apart by which\n"
    "reading gives a sound layout unless --linear or --prom says which.\n"
    "  FILE             prints the index table and checks the layout\n"
    "  --words FILE     writes the words, one per line, in image order\n"
    "  --diff A B       names the words that are in one image and not the other\n"
    "Exit status: 0 sound (and, with --diff, the same words), 1 a layout\n"
    "problem, a short or overlong file (or different words), 2 a file that\n"
    "cannot be read or wrong arguments.\n";

enum class Reading { detect, linear, prom };

struct Arguments {
    enum class Mode { summary, words, diff, help, version } mode = Mode::summary;
    Reading reading = Reading::detect;
    std::vector<std::string> files;
};

std::optional<Arguments> parse(std::span<const std::string> args) {
    Arguments parsed;
    for (const std::string& arg : args) {
        if (arg == "--help") {
            parsed.mode = Arguments::Mode::help;
            return parsed;
        }
        if (arg == "--version") {
            parsed.mode = Arguments::Mode::version;
            return parsed;
        }
        if (arg == "--linear" || arg == "--prom") {
            if (parsed.reading != Reading::detect) {
                return std::nullopt;
            }
            parsed.reading = arg == "--linear" ? Reading::linear : Reading::prom;
        } else if (arg == "--words" || arg == "--diff") {
            if (parsed.mode != Arguments::Mode::summary) {
                return std::nullopt;
            }
            parsed.mode = arg == "--words" ? Arguments::Mode::words : Arguments::Mode::diff;
        } else if (arg.starts_with("--")) {
            return std::nullopt;
        } else {
            parsed.files.push_back(arg);
        }
    }
    const std::size_t wanted = parsed.mode == Arguments::Mode::diff ? 2 : 1;
    return parsed.files.size() == wanted ? std::optional(parsed) : std::nullopt;
}

/// An image as a file holds it, turned into linear order.
struct LoadedImage {
    std::string name;
    std::vector<std::uint8_t> bytes;  // kImageSize bytes, zero beyond what the file held
    std::size_t present = 0;
    bool longer = false;
    std::string reading;  // how it was read, for the heading
    ImageReport report;
};

std::optional<LoadedImage> load(const std::string& path, Reading reading, std::ostream& err) {
    const dicttools::FileContents file = dicttools::read_file(path, kImageSize + 1);
    if (file.status != dicttools::FileContents::Status::ok) {
        err << "dictinfo: cannot read " << path << ": " << file.reason << '\n';
        return std::nullopt;
    }
    LoadedImage image;
    image.name = path;
    image.present = std::min(file.bytes.size(), kImageSize);
    image.longer = file.bytes.size() > kImageSize;
    image.bytes.assign(kImageSize, 0);
    std::copy_n(file.bytes.begin(), image.present, image.bytes.begin());

    if (reading == Reading::detect && image.present == kImageSize) {
        // Whichever reading gives a sound layout; the linear one when both
        // do (an empty image reads the same either way) or neither does.
        ImageReport linear = check_image(image.bytes, image.present);
        std::vector<std::uint8_t> unscrambled = dicttools::make_linear_image(image.bytes);
        ImageReport prom = check_image(unscrambled, image.present);
        if (!linear.sound() && prom.problems.size() < linear.problems.size()) {
            image.bytes = std::move(unscrambled);
            image.reading = prom.sound() ? "a PROM image (address-scrambled)"
                                         : "a PROM image (address-scrambled; neither reading is sound)";
        } else {
            image.reading =
                linear.sound() || prom.sound() ? "a linear image" : "a linear image (neither reading is sound)";
        }
    } else if (reading == Reading::detect) {
        image.reading = "a linear image (a short file is read as linear)";  // only a whole PROM image unscrambles
    } else if (reading == Reading::prom) {
        image.bytes = dicttools::make_linear_image(image.bytes);
        image.reading = "a PROM image (address-scrambled, as asked)";
    } else {
        image.reading = "a linear image (as asked)";
    }
    image.report = check_image(image.bytes, image.present);
    return image;
}

std::string hex5(std::size_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%05zX", value);
    return text;
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
        out << "the file is short: " << image.present << " of 524288 bytes; the rest was not checked\n";
    }
    return image.longer || image.report.short_file();
}

bool report_problems(const LoadedImage& image, std::ostream& out) {
    for (const Problem& problem : image.report.problems) {
        out << "problem at " << hex5(problem.address) << ": " << problem.what << '\n';
    }
    return !image.report.problems.empty();
}

/// Prints what is wrong with the file and its layout; true when anything is.
bool report_trouble(const LoadedImage& image, std::ostream& out) {
    const bool file_trouble = report_file_size(image, out);
    const bool layout_trouble = report_problems(image, out);
    return file_trouble || layout_trouble;
}

std::string cut_note(const Group& group, std::size_t present) {
    if (group.address >= present && present < kImageSize) {
        return "  beyond the end of the file";
    }
    return group.cut ? "  cut" : "";
}

ExitStatus summary(const LoadedImage& image, std::ostream& out) {
    const ImageReport& report = image.report;
    out << image.name << ": " << image.reading << ", " << image.present << " bytes\n\n";
    out << "length  address    words     bytes\n";
    std::size_t words = 0;
    std::size_t bytes = 0;
    for (std::size_t length = dicttools::kMinWordLength; length <= dicttools::kMaxWordLength; ++length) {
        const auto group = std::find_if(report.groups.begin(), report.groups.end(),
                                        [length](const Group& g) { return g.length == length; });
        if (group == report.groups.end()) {
            out << padded(std::to_string(length), 6) << "        -        0         0\n";
            continue;
        }
        out << padded(std::to_string(length), 6) << "  " << hex5(group->address)
            << padded(std::to_string(group->words), 9) << padded(std::to_string(group->bytes), 10)
            << cut_note(*group, image.present) << '\n';
        words += group->words;
        bytes += group->bytes;
    }
    char fill[128];
    std::snprintf(fill, sizeof fill, "total %23zu %9zu\nfinal address %s: %.1f%% of the 512 KiB used\n", words, bytes,
                  hex5(report.end).c_str(), 100.0 * static_cast<double>(std::min(report.end, kImageSize)) / kImageSize);
    out << fill << '\n';
    for (const Group& group : report.groups) {
        if (group.cut && image.present == kImageSize) {
            out << "the group of length " << group.length
                << " is cut at the end of the image: the word list did not fit\n";
        }
    }
    const bool trouble = report_trouble(image, out);
    if (report.sound()) {
        out << "the layout is sound\n";
    } else {
        out << report.problems.size() << " layout problem(s)\n";
    }
    return trouble ? ExitStatus::problem : ExitStatus::sound;
}

ExitStatus words(const LoadedImage& image, std::ostream& out, std::ostream& err) {
    for (const std::string_view word : image.report.words) {
        out << word << '\n';
    }
    return report_trouble(image, err) ? ExitStatus::problem : ExitStatus::sound;
}

ExitStatus diff(const LoadedImage& a, const LoadedImage& b, std::ostream& out, std::ostream& err) {
    const std::set<std::string_view> in_a(a.report.words.begin(), a.report.words.end());
    const std::set<std::string_view> in_b(b.report.words.begin(), b.report.words.end());
    bool differ = false;
    for (const auto& [these, others, name] : {std::tuple{&in_a, &in_b, &a.name}, std::tuple{&in_b, &in_a, &b.name}}) {
        for (const std::string_view word : *these) {
            if (!others->contains(word)) {
                out << "only in " << *name << ": " << word << '\n';
                differ = true;
            }
        }
    }
    bool trouble = false;
    for (const LoadedImage* image : {&a, &b}) {
        if (!image->report.sound() || image->report.short_file() || image->longer) {
            err << image->name << ":\n";
            trouble = report_trouble(*image, err) || trouble;
        }
    }
    return differ || trouble ? ExitStatus::problem : ExitStatus::sound;
}

}  // namespace

ExitStatus run_dictinfo(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    const std::optional<Arguments> parsed = parse(args);
    if (!parsed) {
        err << kUsage;
        return ExitStatus::cannot_read;
    }
    if (parsed->mode == Arguments::Mode::help) {
        out << kUsage;
        return ExitStatus::sound;
    }
    if (parsed->mode == Arguments::Mode::version) {
        out << "dictinfo " << dicttools::kVersion << '\n';
        return ExitStatus::sound;
    }
    std::vector<LoadedImage> images;
    for (const std::string& file : parsed->files) {
        std::optional<LoadedImage> image = load(file, parsed->reading, err);
        if (!image) {
            return ExitStatus::cannot_read;
        }
        images.push_back(std::move(*image));
    }
    switch (parsed->mode) {
        case Arguments::Mode::words:
            return words(images[0], out, err);
        case Arguments::Mode::diff:
            return diff(images[0], images[1], out, err);
        default:
            return summary(images[0], out);
    }
}

}  // namespace dictinfo
