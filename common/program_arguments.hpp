// The command line of a program that works on fixed files in the current
// folder: it takes no arguments but --help and --version.
#pragma once

#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

namespace dicttools {

/// The exit status for a command line the program does not take.
inline constexpr int kWrongArgumentsExitStatus = 64;

/// A program that ends at once instead of running: what it prints on each
/// stream, and its exit status.
struct EarlyExit {
    int exit_status = 0;
    std::string output;  // for standard output
    std::string errors;  // for standard error
};

/// What `program` does with `args` (its arguments, without its own name):
/// - none: std::nullopt, the program runs as usual;
/// - "--help" alone: `usage` on standard output, exit status 0;
/// - "--version" alone: "<program> <version>" on standard output, 0;
/// - anything else: a line naming the argument it did not expect, then
///   `usage`, on standard error, exit status kWrongArgumentsExitStatus.
/// Decides only: it prints nothing and touches no file.
std::optional<EarlyExit> early_exit_for(std::span<const std::string> args, std::string_view program,
                                        std::string_view usage);

/// Prints what `exit` says on `out` and `err`; returns its exit status.
int finish_early(const EarlyExit& exit, std::ostream& out, std::ostream& err);

}  // namespace dicttools
