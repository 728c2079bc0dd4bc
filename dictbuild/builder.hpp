// One whole run of the dictionary image builder.
#pragma once

#include <filesystem>
#include <ostream>
#include <string>

#include "console_text.hpp"
#include "interrupts.hpp"

namespace dictbuild {

/// The builder's exit statuses.
enum class ExitStatus : int {
    done = 0,
    word_list_unusable = 1,  // the word list missing or unreadable; nothing written
    image_too_large = 2,     // both files written, cut at the image size
    write_failed = 3,        // an image file could not be written; old files kept
    /// Stopped by a signal. Before the files were being replaced, nothing
    /// was written; while they were, both were replaced first. Not an exit
    /// status itself: the program exits with
    /// dicttools::exit_status_for_signal() of the signal.
    interrupted = -1,
};

struct Consoles {
    std::ostream& out;     // the progress and every error
    std::ostream& errors;  // warnings of likely mistakes in the word list, one line each
};

/// The word list a run reads.
struct WordListSource {
    std::filesystem::path path = "dic.txt";  // beside the images unless it names another folder
    bool standard_input = false;             // read standard input instead of `path`
    bool input_closed = false;               // standard input was closed when the program started: no list stands there
    /// How messages name it: the path as given, or "standard input".
    std::string name() const { return standard_input ? "standard input" : dicttools::printable_name(path); }
};

/// Reads the word list `list` ("dic.txt" by default) in `folder`, builds the dictionary image and writes
/// "dic.bin" (PROM order) and "dic.uns" (linear) beside it, printing the
/// progress and every error to `consoles.out`, which is flushed after each
/// message. Both files are replaced together, only once both are completely
/// written: afterwards both are new or both as they were. `stop` is looked
/// at between the pieces read and up to the start of the replacement. A
/// list that seems saved in the wrong way (likely_mistakes()) is built all
/// the same, with a warning on `consoles.errors`. An image file that is the
/// word list (the same file, through a link of either kind) is refused
/// before the list is read, right after the banner: write_failed, nothing
/// replaced. Next, before the list is read, a replacement of the pair that
/// a run killed between its renames left in the middle is finished
/// (dicttools::FileReplacement::finish_unfinished()), with a line on
/// `consoles.errors` that says what was found and done.
ExitStatus run_builder(Consoles consoles, const std::filesystem::path& folder, const dicttools::StopRequest& stop,
                       const WordListSource& list = {});

}  // namespace dictbuild
