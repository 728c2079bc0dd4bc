#include "support/processes.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/pseudo_terminal.hpp"
#include "support/temp_folder.hpp"

namespace testing_support {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

std::vector<char*> c_arguments(const std::vector<std::string>& argv) {
    std::vector<char*> arguments;
    arguments.reserve(argv.size() + 1);
    for (const std::string& argument : argv) {
        arguments.push_back(const_cast<char*>(argument.c_str()));
    }
    arguments.push_back(nullptr);
    return arguments;
}

std::size_t prompts_in(const std::string& text, const std::string& prompt) {
    std::size_t count = 0;
    for (std::size_t at = text.find(prompt); at != std::string::npos; at = text.find(prompt, at + prompt.size())) {
        ++count;
    }
    return count;
}

int exit_status_of(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

/// Waits until `condition` holds or `limit` has passed; says which.
template <class Condition>
bool wait_until(Condition condition, steady_clock::time_point limit) {
    while (!condition()) {
        if (steady_clock::now() > limit) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds{2});
    }
    return true;
}

/// Whether `signal` waits to be taken by process `pid` (Linux: its status
/// in /proc lists the pending signals as hexadecimal masks).
bool signal_pending(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if ((line.starts_with("SigPnd:") || line.starts_with("ShdPnd:")) &&
            ((std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1U) != 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

Companion::Companion(const std::vector<std::string>& argv) {
    int to_child[2];
    int from_child[2];
    if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot make pipes");
    }
    const std::vector<char*> arguments = c_arguments(argv);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(to_child[0], STDIN_FILENO);
        ::dup2(from_child[1], STDOUT_FILENO);
        ::execv(arguments[0], arguments.data());
        ::_exit(127);
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    input_ = to_child[1];
    output_ = from_child[0];
    if (pid_ < 0) {
        throw std::runtime_error("cannot start " + argv[0]);
    }
}

Companion::~Companion() {
    if (pid_ > 0) {
        finish();
    }
}

std::string Companion::read_line(milliseconds timeout) {
    const auto limit = steady_clock::now() + timeout;
    for (;;) {
        if (const auto end = pending_.find('\n'); end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(limit - steady_clock::now());
        pollfd ready{output_, POLLIN, 0};
        char chunk[256];
        if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
            return {};
        }
        const ssize_t count = ::read(output_, chunk, sizeof chunk);
        if (count <= 0) {
            return {};
        }
        pending_.append(chunk, static_cast<std::size_t>(count));
    }
}

void Companion::write(const std::string& text) {
    if (::write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        throw std::runtime_error("cannot write to a companion");
    }
}

int Companion::finish() {
    ::close(input_);
    ::close(output_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return exit_status_of(status);
}

ConsoleRun run_on_console(const std::filesystem::path& program, const std::filesystem::path& folder,
                          const std::string& keys, const std::string& prompt, std::chrono::seconds limit,
                          const SignalAfterKeys& signal, const std::vector<std::string>& args,
                          const std::function<void()>& before_each_key) {
    const TempFolder logs;
    const PseudoTerminal console(PseudoTerminal::Mode::cooked);
    termios before{};
    ::tcgetattr(console.near_fd(), &before);
    std::vector<std::string> argv = {program.string()};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::vector<char*> arguments = c_arguments(argv);
    const std::string out_path = (logs / "out").string();
    const std::string err_path = (logs / "err").string();

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();  // a session of its own, so that the console becomes its controlling terminal
        const int terminal = ::open(console.far_path().c_str(), O_RDWR);
        ::ioctl(terminal, TIOCSCTTY, 0);
        ::dup2(terminal, STDIN_FILENO);
        ::dup2(::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
        ::dup2(::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
        if (::chdir(folder.c_str()) != 0) {
            ::_exit(126);
        }
        if (signal.ignored_at_start) {
            ::signal(signal.number, SIG_IGN);  // kept through execv
        }
        ::execv(arguments[0], arguments.data());
        ::_exit(127);
    }
    if (pid < 0) {
        throw std::runtime_error("cannot start " + program.string());
    }

    const auto deadline = steady_clock::now() + limit;
    int status = 0;
    const auto ended = [&] { return ::waitpid(pid, &status, WNOHANG) == pid; };
    bool done = false;
    std::string shown;  // what it wrote on the console itself
    const auto waiting_for_key = [&](std::size_t typed) {
        while (const std::optional<std::uint8_t> byte = console.read(std::chrono::milliseconds{0})) {
            shown += static_cast<char>(*byte);
        }
        return prompts_in(logs.read("out"), prompt) + prompts_in(shown, prompt) > typed &&
               !console.far_side_is_canonical();
    };
    if (signal.suspend_first && wait_until([&] { return waiting_for_key(0) || (done = ended()); }, deadline) && !done) {
        ::kill(pid, SIGSTOP);  // not SIGTSTP: its own session is an orphaned group, which ignores that
        ::waitpid(pid, &status, WUNTRACED);
        ::tcsetattr(console.near_fd(), TCSANOW, &before);
        ::kill(pid, SIGCONT);
    }
    std::size_t typed = 0;
    for (; typed < keys.size(); ++typed) {
        if (!wait_until([&] { return waiting_for_key(typed) || (done = ended()); }, deadline) || done) {
            break;
        }
        if (before_each_key) {
            before_each_key();
        }
        console.write(static_cast<std::uint8_t>(keys[typed]));
    }
    if (signal.number != 0 && !done) {
        const auto ready = [&] {
            return signal.when.empty() ? waiting_for_key(typed)
                                       : logs.read("out").find(signal.when) != std::string::npos;
        };
        if (wait_until([&] { return ready() || (done = ended()); }, deadline) && !done) {
            ::kill(pid, signal.number);
            if (signal.ignored_at_start) {
                // Once it is taken (at once, if ignored): of two signals
                // pending together, the handler of the later runs first.
                wait_until([&] { return !signal_pending(pid, signal.number) || (done = ended()); }, deadline);
                if (!done) {
                    ::kill(pid, SIGTERM);
                }
            }
        }
    }
    ConsoleRun run;
    if (done || wait_until(ended, deadline)) {
        run.exit_status = exit_status_of(status);
    } else {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    termios after{};
    ::tcgetattr(console.near_fd(), &after);
    run.console_restored =
        after.c_lflag == before.c_lflag && after.c_iflag == before.c_iflag && after.c_cc[VMIN] == before.c_cc[VMIN];
    while (const std::optional<std::uint8_t> byte = console.read(std::chrono::milliseconds{0})) {
        shown += static_cast<char>(*byte);
    }
    run.shown = shown;
    run.output = logs.read("out");
    run.errors = logs.read("err");
    return run;
}

}  // namespace testing_support
