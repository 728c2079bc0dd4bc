#include "program_arguments.hpp"

#include <algorithm>
#include <cerrno>

#include "console_text.hpp"
#include "interrupts.hpp"
#include "version.hpp"

namespace dicttools {

namespace {

/// The option `name` (a long name, or one character for a short one).
const Option* find_option(const CommandLine& line, std::string_view long_name, char short_name) {
    const auto found = std::find_if(line.options.begin(), line.options.end(), [&](const Option& option) {
        return long_name.empty() ? option.short_name != 0 && option.short_name == short_name
                                 : option.long_name == long_name;
    });
    return found != line.options.end() ? &*found : nullptr;
}

EarlyExit help(const CommandLine& line) { return {0, std::string(line.usage), {}}; }

EarlyExit version(const CommandLine& line) {
    return {0, std::string(line.program) + ' ' + std::string(kVersion) + '\n', {}};
}

/// Reads the options of one argument "-abc" from its first letter on:
/// flags, then perhaps one that takes the rest (or the next argument) as
/// its value. Moves `next` past the value it takes. An early exit when it
/// ends the command line.
std::optional<EarlyExit> read_short_options(std::span<const std::string> args, std::size_t& next,
                                            const std::string& arg, const CommandLine& line, Arguments& parsed) {
    for (std::size_t i = 1; i < arg.size(); ++i) {
        const char letter = arg[i];
        const std::string shown = "-" + printable(std::string_view(&letter, 1));
        if (letter == 'h') {
            return help(line);
        }
        const Option* option = find_option(line, {}, letter);
        if (option == nullptr) {
            return usage_error(line.program, "unknown option '" + shown + "'");
        }
        if (!option->takes_value) {
            parsed.options.push_back({std::string(option->long_name), {}});
            continue;
        }
        if (i + 1 < arg.size()) {
            parsed.options.push_back({std::string(option->long_name), arg.substr(i + 1)});
        } else if (next < args.size()) {
            parsed.options.push_back({std::string(option->long_name), args[next++]});
        } else {
            return usage_error(line.program, "option '" + shown + "' needs a value");
        }
        break;
    }
    return std::nullopt;
}

/// Reads one argument "--name" or "--name=value", as read_short_options() does.
std::optional<EarlyExit> read_long_option(std::span<const std::string> args, std::size_t& next, const std::string& arg,
                                          const CommandLine& line, Arguments& parsed) {
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const std::string shown = "--" + printable(name);
    const Option* option = find_option(line, name, 0);
    const bool builtin = name == "help" || name == "version";
    if (option == nullptr && !builtin) {
        return usage_error(line.program, "unknown option '" + shown + "'");
    }
    if (equals != std::string::npos && (builtin || !option->takes_value)) {
        return usage_error(line.program, "option '" + shown + "' takes no value");
    }
    if (builtin) {
        return name == "help" ? help(line) : version(line);
    }
    if (!option->takes_value) {
        parsed.options.push_back({name, {}});
    } else if (equals != std::string::npos) {
        parsed.options.push_back({name, arg.substr(equals + 1)});
    } else if (next < args.size()) {
        parsed.options.push_back({name, args[next++]});
    } else {
        return usage_error(line.program, "option '" + shown + "' needs a value");
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> Arguments::value_of(std::string_view name) const {
    const auto last =
        std::find_if(options.rbegin(), options.rend(), [&](const Given& given) { return given.name == name; });
    return last != options.rend() ? std::optional<std::string>(last->value) : std::nullopt;
}

std::variant<Arguments, EarlyExit> parse_arguments(std::span<const std::string> args, const CommandLine& line) {
    Arguments parsed;
    bool options_ended = false;
    std::size_t next = 0;
    while (next < args.size()) {
        const std::string& arg = args[next++];
        std::optional<EarlyExit> early;
        if (options_ended || arg == "-" || !arg.starts_with('-')) {
            parsed.operands.push_back(arg);
        } else if (arg == "--") {
            options_ended = true;
        } else if (arg.starts_with("--")) {
            early = read_long_option(args, next, arg, line, parsed);
        } else {
            early = read_short_options(args, next, arg, line, parsed);
        }
        if (early) {
            return *early;
        }
    }
    return parsed;
}

EarlyExit usage_error(std::string_view program, std::string_view complaint) {
    const std::string name(program);
    return {kWrongArgumentsExitStatus, {}, name + ": " + std::string(complaint) + "\nTry '" + name + " --help'.\n"};
}

std::string unexpected_argument(std::string_view arg) { return "unexpected argument '" + printable(arg) + "'"; }

int finish_early(const EarlyExit& exit, std::string_view program, std::ostream& out, std::ostream& err) {
    ignore_broken_pipe();
    errno = 0;
    out << exit.output << std::flush;
    const int error = errno;
    err << exit.errors << std::flush;
    if (!out) {
        if (error != EPIPE) {  // a reader gone from a pipe (as `| head`) needs no telling
            err << program << ": cannot write the output\n" << std::flush;
        }
        return kOutputFailedExitStatus;
    }
    return exit.exit_status;
}

}  // namespace dicttools
