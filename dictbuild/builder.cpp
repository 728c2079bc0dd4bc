#include "builder.hpp"

#include <cerrno>
#include <cstring>
#include <exception>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "console_text.hpp"
#include "entry_sort.hpp"
#include "file_replacement.hpp"
#include "image_packer.hpp"
#include "likely_mistakes.hpp"
#include "prom_image.hpp"
#include "run_together.hpp"
#include "word_list.hpp"

namespace dictbuild {

namespace {

using dicttools::say;

/// The image file that is the word list `list` itself (the same file by
/// device and inode: through a link of either kind), or an empty view.
std::string_view image_that_is(const std::filesystem::path& folder, const WordListSource& list) {
    if (list.standard_input) {
        return {};
    }
    for (const std::string_view image : {"dic.bin", "dic.uns"}) {
        std::error_code absent;
        if (std::filesystem::equivalent(folder / list.path, folder / image, absent)) {
            return image;
        }
    }
    return {};
}

/// Throws FileError when `file`, an image file named `name`, would replace
/// the word list (a link to it): the list would be lost. (Checked again as
/// the images are written: the list may have been made a link since.)
void refuse_word_list(const dicttools::FileReplacement& file, const std::string& name,
                      const std::filesystem::path& folder, const WordListSource& list) {
    if (!list.standard_input && file.replaces(folder / list.path)) {
        throw dicttools::FileError("Could not write " + name + ": it is the word list " + list.name());
    }
}

/// The file-system steps of replacing the images, telling a wait for
/// another run and what is left behind on `consoles.errors`.
dicttools::ReplacementSteps replacement_steps(Consoles consoles) {
    return dicttools::ReplacementSteps(
        [consoles] {
            say(consoles.errors,
                "dictbuild: waiting for another run in this folder to finish replacing dic.bin and dic.uns...\n");
        },
        [consoles](const std::string& left) { say(consoles.errors, "dictbuild: " + left + "\n"); });
}

/// Scrambles and writes both image files into temporary files, then puts
/// the pair in place together: afterwards both are new or both as they
/// were. Returns false, having replaced nothing, when `stop` was requested
/// before the replacement began; once begun, it finishes first. A file that
/// cannot be written, or that is the word list or the other image file
/// through links, throws FileError and keeps the earlier pair.
///
/// The two files are written at once, the scramble and the wait for the
/// disk of one beside those of the other. What goes wrong is told as if they
/// were written in turn: dic.bin's failure alone, or dic.uns's after its
/// message. Their space is set aside first, dic.bin's then dic.uns's, so
/// that a disk with room for one file fails on dic.uns, as in turn.
bool write_image_files(Consoles consoles, const std::filesystem::path& folder, const WordListSource& list,
                       const PackedImage& packed, const dicttools::StopRequest& stop) {
    say(consoles.out, "Creating dictionary image file, dic.bin ( this is the PROM image )...\n");
    dicttools::FileReplacement prom_file(folder / "dic.bin");
    refuse_word_list(prom_file, "dic.bin", folder, list);
    prom_file.reserve(packed.bytes.size());
    std::optional<dicttools::FileReplacement> linear_file;
    std::exception_ptr linear_failure;
    dicttools::run_keeping_failure(
        [&] {
            linear_file.emplace(folder / "dic.uns");
            refuse_word_list(*linear_file, "dic.uns", folder, list);
            linear_file->reserve(packed.bytes.size());
        },
        linear_failure);
    const auto write_prom = [&] {
        dicttools::for_each_prom_piece(packed.bytes,
                                       [&](std::span<const std::uint8_t> piece) { prom_file.write(piece); });
        prom_file.finish();
    };
    const auto write_linear = [&] {
        linear_file->write(packed.bytes);
        linear_file->finish();
    };
    std::exception_ptr prom_failure;
    dicttools::run_together([&] { dicttools::run_keeping_failure(write_prom, prom_failure); },
                            [&] {
                                if (!linear_failure) {
                                    dicttools::run_keeping_failure(write_linear, linear_failure);
                                }
                            });
    if (prom_failure) {
        std::rethrow_exception(prom_failure);
    }
    say(consoles.out, "Creating unscrambled dictionary image file, dic.uns ( for reference only )...\n");
    if (linear_failure) {
        std::rethrow_exception(linear_failure);
    }
    dicttools::ReplacementSteps steps = replacement_steps(consoles);
    return dicttools::FileReplacement::commit_together({&prom_file, &*linear_file}, stop, steps);
}

/// What the lines read show that is warned about after the likely mistakes.
struct LineWarnings final : LineObserver {
    LongLines long_lines;
    UnprintableWords unprintable;

    void line(const Line& line) override {
        long_lines.line(line);
        unprintable.line(line);
    }
};

/// Whether `path` leads where standard input does, as /dev/stdin or
/// /dev/fd/0 do (never on a system without /dev/stdin). By the paths the
/// links resolve to: the null device is no file that equivalent() compares.
bool is_standard_input(const std::filesystem::path& path) {
    std::error_code error;
    const std::filesystem::path input = std::filesystem::canonical("/dev/stdin", error);
    return !error && std::filesystem::canonical(path, error) == input && !error;
}

/// Reads `list`, which stands in `folder` unless it names another.
WordListFile read_source(const std::filesystem::path& folder, const WordListSource& list,
                         const dicttools::StopRequest& stop, LineObserver* observer) {
    // Standard input closed at start holds the null device: it is no list,
    // however it is named.
    if (list.input_closed && (list.standard_input || is_standard_input(folder / list.path))) {
        return {WordListFile::Status::cannot_read, std::strerror(EBADF), {}};  // not an empty list
    }
    if (list.standard_input) {
        dicttools::FileReader input{dicttools::FileReader::StandardInput{}};
        return read_word_list_from(input, stop, observer);
    }
    return read_word_list_file(folder / list.path, stop, observer);
}

}  // namespace

ExitStatus run_builder(Consoles consoles, const std::filesystem::path& folder, const dicttools::StopRequest& stop,
                       const WordListSource& list) {
    const std::string name = list.name();
    std::ostream& console = consoles.out;
    say(console, "\nQVR Crossword Solver Dictionary Generator\n");
    say(console, "=========================================\n\n");
    say(console, "Opening source dictionary (" + name + ")\n");
    if (const std::string_view image = image_that_is(folder, list); !image.empty()) {
        say(console, "ERROR: Could not write " + std::string(image) + ": it is the word list " + name + "\n");
        return ExitStatus::write_failed;
    }
    // A replacement of the pair that a run killed between its renames left
    // in the middle, finished before this run's own.
    dicttools::ReplacementSteps steps = replacement_steps(consoles);
    for (const std::string& text :
         dicttools::FileReplacement::finish_unfinished({folder / "dic.bin", folder / "dic.uns"}, stop, steps)) {
        say(consoles.errors, "dictbuild: " + text + "\n");
    }

    LineWarnings warnings;
    WordListFile source = read_source(folder, list, stop, &warnings);
    switch (source.status) {
        case WordListFile::Status::ok:
            break;
        case WordListFile::Status::cannot_open:
            say(console, "Could not find " + name + ", exiting\n");
            return ExitStatus::word_list_unusable;
        case WordListFile::Status::cannot_read:
            say(console, "Could not read " + name + " (" + source.reason + "), exiting\n");
            return ExitStatus::word_list_unusable;
        case WordListFile::Status::interrupted:
            return ExitStatus::interrupted;
    }

    WordList& words = source.list;
    if (words.truncated) {
        say(console, "WARNING: There are too many lines in " + name + " - truncated.\n");
    }
    say(console, "Read " + std::to_string(words.entries.size()) + " lines from the input file\n");

    say(console, "Sorting the entries...\n");
    sort_and_clean_up(words.entries);
    say(console, "sorted.\n");

    const PackedImage packed = pack_image(words.entries);
    say(console, "Final address used is " + final_address_text(packed.final_address) + "\n");
    if (!packed.fits()) {
        say(console, "ERROR: The image file is larger than your prom!\n        Remove some words\n");
    }
    for (const LikelyMistake mistake :
         likely_mistakes(words.signs, packed.final_address > dicttools::kFirstGroupAddress)) {
        say(consoles.errors, "WARNING: " + name + " " + std::string(describe(mistake)) + "\n");
    }
    if (warnings.long_lines.count() > 0) {
        say(consoles.errors, "WARNING: " + name + " " + describe(warnings.long_lines) + "\n");
    }
    if (warnings.unprintable.count() > 0) {
        say(consoles.errors, "WARNING: " + name + " " + describe(warnings.unprintable) + "\n");
    }

    if (stop.requested()) {
        return ExitStatus::interrupted;
    }
    try {
        if (!write_image_files(consoles, folder, list, packed, stop)) {
            return ExitStatus::interrupted;
        }
    } catch (const dicttools::FileError& error) {
        say(console, std::string("ERROR: ") + error.what() + "\n");
        return ExitStatus::write_failed;
    }
    if (stop.requested()) {
        return ExitStatus::interrupted;  // it came during the replacement, which finished first
    }
    if (!packed.fits()) {
        return ExitStatus::image_too_large;
    }
    say(console, "Completed successfully. Program your prom with dic.bin\n");
    return ExitStatus::done;
}

}  // namespace dictbuild
