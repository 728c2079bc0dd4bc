#include "program_arguments.hpp"

#include <algorithm>

#include "version.hpp"

namespace dicttools {

std::optional<EarlyExit> early_exit_for(std::span<const std::string> args, std::string_view program,
                                        std::string_view usage) {
    if (args.empty()) {
        return std::nullopt;
    }
    if (args.size() == 1 && args.front() == "--help") {
        return EarlyExit{0, std::string(usage), {}};
    }
    if (args.size() == 1 && args.front() == "--version") {
        return EarlyExit{0, std::string(program) + ' ' + std::string(kVersion) + '\n', {}};
    }
    // Name the first argument that is not an option of ours; with only
    // ours (such as "--help --version"), the one too many.
    const auto is_ours = [](const std::string& arg) { return arg == "--help" || arg == "--version"; };
    const auto unexpected = std::find_if_not(args.begin(), args.end(), is_ours);
    const std::string& named = unexpected != args.end() ? *unexpected : args[1];
    const std::string complaint = std::string(program) + ": unexpected argument '" + named + "'\n\n";
    return EarlyExit{kWrongArgumentsExitStatus, {}, complaint + std::string(usage)};
}

int finish_early(const EarlyExit& exit, std::ostream& out, std::ostream& err) {
    out << exit.output << std::flush;
    err << exit.errors << std::flush;
    return exit.exit_status;
}

}  // namespace dicttools
