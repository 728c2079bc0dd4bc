// POSIX: runs a program through the shell and collects its output.
#include <sys/wait.h>

#include <cstdio>
#include <stdexcept>

#include "support/temp_folder.hpp"

namespace testing_support {

namespace {

/// `text` as one word for the shell.
std::string quoted(const std::string& text) {
    std::string word = "'";
    for (const char c : text) {
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return word + "'";
}

}  // namespace

ProgramRun run_in_folder(const std::filesystem::path& program, const std::filesystem::path& folder,
                         const std::vector<std::string>& args) {
    const TempFolder logs;  // standard error goes here, so that `folder` holds only what the program leaves
    std::string command = "cd " + quoted(folder.string()) + " && " + quoted(program.string());
    for (const std::string& arg : args) {
        command += " " + quoted(arg);
    }
    command += " </dev/null 2>" + quoted((logs / "errors").string());
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
    run.errors = logs.read("errors");
    return run;
}

}  // namespace testing_support
