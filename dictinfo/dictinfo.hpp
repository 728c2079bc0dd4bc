// One run of dictinfo: reads dictionary images back and reports on them.
#pragma once

#include <ostream>
#include <span>
#include <string>

namespace dictinfo {

/// The exit statuses.
enum class ExitStatus : int {
    /// The image is sound (with --diff: and both hold the same words; with
    /// --word-list: the list fits).
    sound = 0,
    /// A layout problem, a short or overlong file (with --diff: or the words
    /// differ; with --words: or they would not build the same image; with
    /// --word-list: the list does not fit).
    problem = 1,
    /// A file could not be read, or the output could not be written.
    cannot_read = 2,
    /// The arguments are wrong: said on standard error, nothing read.
    wrong_arguments = 64,
    /// --help or --version could not be written (dicttools::kOutputFailedExitStatus).
    help_not_written = 74,
};

/// Runs dictinfo with the command-line arguments `args` (without the
/// program name):
///   [--linear | --prom] FILE                the index table and the layout check
///   [--linear | --prom] --words FILE        the words, one per line, in image order
///                                           (status problem also when dictbuild would
///                                           not build the same image from them)
///   [--linear | --prom] --diff FILE FILE    the words in one image and not the other
///   --word-list FILE                        what dictbuild would make of a word list
///   -h, --help, --version
/// A file is read as a linear image or as a PROM image, whichever gives a
/// sound layout, unless --linear or --prom says which. Output that cannot
/// be written is said on `err` and gives cannot_read (help_not_written for
/// the help or the version).
ExitStatus run_dictinfo(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace dictinfo
