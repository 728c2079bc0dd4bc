// POSIX: runs a program through the shell and collects its output.
#include <sys/wait.h>

#include <cstdio>
#include <stdexcept>

#include "support/temp_folder.hpp"

namespace testing_support {

ProgramRun run_in_folder(const std::filesystem::path& program, const std::filesystem::path& folder) {
    const std::string command = "cd '" + folder.string() + "' && '" + program.string() + "' </dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        throw std::runtime_error("cannot start " + program.string());
    }
    ProgramRun run;
    char chunk[4096];
    std::size_t count = 0;
    while ((count = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        run.output.append(chunk, count);
    }
    const int status = ::pclose(pipe);
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace testing_support
