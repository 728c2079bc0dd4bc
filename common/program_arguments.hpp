// The command lines of the three programs, read the way ordinary
// command-line tools read theirs: options (-h or --help, --version and the
// program's own, short "-pVALUE" / "-p VALUE" and long "--port=VALUE" /
// "--port VALUE"), before, between or after the operands; "--" ends the
// options; "-" alone is an operand.
#pragma once

#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace dicttools {

/// The exit status for a command line the program does not take.
inline constexpr int kWrongArgumentsExitStatus = 64;
/// The exit status when --help or --version cannot be written (a full
/// disk, a closed pipe): 74, as for an output error, which no other outcome
/// of the three programs gives.
inline constexpr int kOutputFailedExitStatus = 74;

/// One option a program takes besides -h, --help and --version.
struct Option {
    std::string_view long_name;  // without "--"; also the name it is reported under
    char short_name = 0;         // 0 when it has no short form
    bool takes_value = false;
};

/// What a program takes on its command line.
struct CommandLine {
    std::string_view program;         // its name in messages
    std::string_view usage;           // its --help text
    std::span<const Option> options;  // its own options
};

/// A program that ends at once instead of running: what it prints on each
/// stream, and its exit status.
struct EarlyExit {
    int exit_status = 0;
    std::string output;  // for standard output
    std::string errors;  // for standard error
};

/// A command line read: the options given, in their order, and the operands.
struct Arguments {
    struct Given {
        std::string name;   // the option's long name
        std::string value;  // empty for an option without a value
    };
    std::vector<Given> options;
    std::vector<std::string> operands;

    /// The value of the last `name` given; none when it was not given.
    std::optional<std::string> value_of(std::string_view name) const;
    /// Whether `name` was given at all.
    bool has(std::string_view name) const { return value_of(name).has_value(); }
};

/// Reads `args` (the arguments, without the program's own name) as `line`
/// says. The first -h or --help, or --version, met before anything wrong
/// ends it with its text on standard output and status 0; an option that is
/// not the program's, an option without its value, or a value given to one
/// that takes none ends it with usage_error(). Decides only: it prints
/// nothing and touches no file.
std::variant<Arguments, EarlyExit> parse_arguments(std::span<const std::string> args, const CommandLine& line);

/// A command line refused: "<program>: <complaint>" and "Try '<program>
/// --help'." on standard error, status kWrongArgumentsExitStatus.
EarlyExit usage_error(std::string_view program, std::string_view complaint);

/// The complaint about an operand the program does not take, its bytes
/// shown as printable() shows them (a usage error stays one line).
std::string unexpected_argument(std::string_view arg);

/// Prints what `exit` says on `out` and `err`; returns its exit status, or
/// kOutputFailedExitStatus when `out` could not take its text (said on
/// `err`, unless the reader of a pipe has gone). A closed pipe is a failed
/// write here, never the end of the program: it calls ignore_broken_pipe()
/// first.
int finish_early(const EarlyExit& exit, std::string_view program, std::ostream& out, std::ostream& err);

}  // namespace dicttools
