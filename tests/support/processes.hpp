// Running other programs from a test: companions that serve the test (such
// as the emulated unit) and programs under test on a console of their own.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

/// A program running beside the test, with a pipe to its standard input
/// and one from its standard output.
class Companion {
public:
    explicit Companion(const std::vector<std::string>& argv);
    Companion(const Companion&) = delete;
    Companion& operator=(const Companion&) = delete;
    /// Ends it the way finish() does, if the test has not.
    ~Companion();

    /// The next line it prints, without its line end; empty when none comes
    /// within `timeout`.
    std::string read_line(std::chrono::milliseconds timeout);
    /// Writes `text` to its standard input.
    void write(const std::string& text);
    /// Closes its standard input and waits for it to end; returns its exit status.
    int finish();

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::string pending_;
};

struct ConsoleRun {
    int exit_status = -1;           // -1 when it had to be killed
    std::string output;             // its standard output
    std::string errors;             // its standard error
    std::string shown;              // what it wrote on the console itself (and the console echoed)
    bool console_restored = false;  // the console's settings were as before when it ended
};

/// A signal sent to the program once the keys are typed and `when` has
/// appeared on its standard output (when empty: once it waits for a key).
struct SignalAfterKeys {
    int number = 0;  // none
    std::string when;
    /// Before the first key, once the program waits for it: stop it, give
    /// the console its first settings back as a shell does, and resume it.
    bool suspend_first = false;
    /// The program starts with the signal ignored (as under nohup); SIGTERM
    /// follows it, so that the run ends.
    bool ignored_at_start = false;
};

/// Runs `program` in `folder` with a pseudo-terminal as its controlling
/// terminal and standard input, and types the keys one at a time: key i
/// once `prompt` has appeared i + 1 times on its standard output and the
/// program has put the terminal into single-key mode, after calling
/// `before_each_key` when there is one; then sends `signal`. `args` are
/// the program's arguments. Kills it when it runs longer than `limit`.
ConsoleRun run_on_console(const std::filesystem::path& program, const std::filesystem::path& folder,
                          const std::string& keys, const std::string& prompt, std::chrono::seconds limit,
                          const SignalAfterKeys& signal = {}, const std::vector<std::string>& args = {},
                          const std::function<void()>& before_each_key = {});

}  // namespace testing_support
