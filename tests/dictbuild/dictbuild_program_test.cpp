// The real dictbuild executable on the worked example list, and on a list
// that never ends.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "file_replacement.hpp"
#include "image_layout.hpp"
#include "replacement_record.hpp"
#include "support/argument_cases.hpp"
#include "support/case_name.hpp"
#include "support/temp_folder.hpp"

namespace {

using testing_support::TempFolder;

TEST(DictbuildProgram, WorkedExample) {
    const TempFolder folder;
    folder.write("dic.txt", "dog\ncat\nOx\ncat\nant\n");

    const testing_support::ProgramRun run = testing_support::run_in_folder(DICTBUILD_PROGRAM, folder.path());

    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.output,
              "\nQVR Crossword Solver Dictionary Generator\n"
              "=========================================\n\n"
              "Opening source dictionary (dic.txt)\n"
              "Read 5 lines from the input file\n"
              "Sorting the entries...\n"
              "sorted.\n"
              "Final address used is 00000085\n"
              "Creating dictionary image file, dic.bin ( this is the PROM image )...\n"
              "Creating unscrambled dictionary image file, dic.uns ( for reference only )...\n"
              "Completed successfully. Program your prom with dic.bin\n");

    std::string linear(dicttools::kImageSize, '\0');
    linear[0x0A] = 0x78;
    linear[0x0E] = 0x7B;
    linear.replace(0x78, 13, std::string("Ox\0antcatdog\0", 13));
    EXPECT_EQ(folder.read("dic.uns"), linear);

    const std::map<std::size_t, char> prom_bytes = {
        {0x03000, 0x78}, {0x07000, 0x7B}, {0x39000, 'O'}, {0x39100, 'x'}, {0x3B100, 'a'},
        {0x3D000, 'n'},  {0x3D100, 't'},  {0x3F000, 'c'}, {0x3F100, 'a'}, {0x40000, 't'},
        {0x40100, 'd'},  {0x42000, 'o'},  {0x42100, 'g'},
    };
    std::string prom(dicttools::kImageSize, '\0');
    for (const auto& [offset, byte] : prom_bytes) {
        prom[offset] = byte;
    }
    EXPECT_EQ(folder.read("dic.bin"), prom);
}

struct ClosedOutputCase {
    const char* name;
    const char* redirect;  // of the program's standard output
    const char* pipe;      // what its output goes through, if anything
};

class DictbuildClosedOutput : public testing::TestWithParam<ClosedOutputCase> {};

TEST_P(DictbuildClosedOutput, StillWritesBothFiles) {
    const TempFolder folder;
    const TempFolder status_folder;
    folder.write("dic.txt", "dog\ncat\n");
    const std::string command = "cd '" + folder.path().string() + "' && ('" + DICTBUILD_PROGRAM + "' </dev/null " +
                                GetParam().redirect + "; echo $? >'" + (status_folder / "status").string() + "') " +
                                GetParam().pipe;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(status_folder.read("status"), "0\n");
    EXPECT_EQ(folder.read("dic.bin").size(), dicttools::kImageSize);
    EXPECT_EQ(folder.read("dic.uns").substr(0x78, 7), std::string("catdog\0", 7));
    EXPECT_EQ(folder.entry_count(), 3U) << "no temporary file is left behind";
}

INSTANTIATE_TEST_SUITE_P(Outputs, DictbuildClosedOutput,
                         testing::Values(ClosedOutputCase{"ReaderGoneAfterOneLine", "", "| head -n 1 >/dev/null"},
                                         ClosedOutputCase{"Closed", ">&-", ""},
                                         ClosedOutputCase{"Full", ">/dev/full", ""}),
                         testing_support::CaseName{});

// Closed at start, standard input holds the null device: it is no word list,
// also when it is named as a file (an empty image would replace the pair).
TEST(DictbuildProgram, ClosedStandardInputIsNoListHoweverNamed) {
    const TempFolder folder;
    const TempFolder status_folder;
    folder.write("dic.txt", "dog\n");
    const std::string command = "cd '" + folder.path().string() + "' && ('" + DICTBUILD_PROGRAM +
                                "' /dev/stdin <&- >/dev/null; echo $? >'" + (status_folder / "status").string() + "')";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(status_folder.read("status"), "1\n");
    EXPECT_EQ(folder.entry_count(), 1U) << "no image made of the null device";
}

/// The number after `field` on its line of /proc/`pid`/`file`; 0 when there is none.
std::size_t proc_number(pid_t pid, const std::string& file, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(field)) {
            return std::stoull(line.substr(field.size()));
        }
    }
    return 0;
}

TEST(DictbuildProgram, EndlessWordListIsReadInBoundedMemoryUntilTerminated) {
    if (!std::filesystem::exists("/proc/self/io")) {
        GTEST_SKIP() << "needs /proc to see what the program has read";
    }
    const TempFolder folder;
    std::filesystem::create_symlink("/dev/zero", folder / "dic.txt");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        if (::chdir(folder.path().c_str()) == 0 && null >= 0 && ::dup2(null, 0) == 0 && ::dup2(null, 1) == 1 &&
            ::dup2(null, 2) == 2) {
            ::execl(DICTBUILD_PROGRAM, DICTBUILD_PROGRAM, nullptr);
        }
        ::_exit(127);
    }
    // Far more than it may hold; a short bounded wait for each look, and
    // looks for minutes (a sanitized build on a busy machine reads slowly).
    constexpr std::size_t kEnough = std::size_t{256} << 20;
    for (int look = 0; look < 30000 && proc_number(pid, "io", "rchar:") < kEnough; ++look) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const std::size_t read = proc_number(pid, "io", "rchar:");
    const std::size_t peak_kib = proc_number(pid, "status", "VmHWM:");
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);

    EXPECT_GE(read, kEnough);
    EXPECT_LT(peak_kib, 64U * 1024) << "memory grows with what was read";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal instead of exiting";
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
    EXPECT_EQ(folder.entry_count(), 1U) << "the link alone: nothing written";
}

TEST(DictbuildProgram, SignalWhileWaitingForAWriterOfThePipeEndsTheRun) {
    const TempFolder folder;
    ASSERT_EQ(::mkfifo((folder / "dic.txt").c_str(), 0600), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        if (::chdir(folder.path().c_str()) == 0 && null >= 0 && ::dup2(null, 1) == 1 && ::dup2(null, 2) == 2) {
            ::execl(DICTBUILD_PROGRAM, DICTBUILD_PROGRAM, nullptr);
        }
        ::_exit(127);
    }
    // Waiting in the open, where the system says so; a short bounded wait for
    // each look, and looks for a minute (a busy machine starts it slowly).
    const std::string wchan = "/proc/" + std::to_string(pid) + "/wchan";
    bool opening = false;
    for (int look = 0; look < 6000 && !opening; ++look) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream in(wchan);
        std::string where;
        std::getline(in, where);
        opening = where == "wait_for_partner" || where == "fifo_open";
    }
    ::kill(pid, opening ? SIGTERM : SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    if (!opening) {
        GTEST_SKIP() << "the system does not say where a process waits";
    }
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal instead of exiting";
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
    EXPECT_EQ(folder.entry_count(), 1U) << "the pipe alone: nothing written";
}

struct SourceCase {
    std::string name;
    std::vector<std::string> args;  // run where mylist.txt is, with it as standard input
    std::string named;              // what the banner calls the list
};

class DictbuildWordListSource : public testing::TestWithParam<SourceCase> {};

// How the list is named on the command line changes the banner and where
// the images go, never their bytes.
TEST_P(DictbuildWordListSource, GivesTheImagesThatDicTxtGives) {
    const SourceCase& c = GetParam();
    const std::string list =
        "dog\r\ncat\nOx\ncat\nant\n\x1a"
        "after";
    const TempFolder reference;
    reference.write("dic.txt", list);
    const testing_support::ProgramRun built = testing_support::run_in_folder(DICTBUILD_PROGRAM, reference.path());
    ASSERT_EQ(built.exit_status, 0);

    const TempFolder folder;
    folder.write("mylist.txt", list);
    std::filesystem::create_directory(folder / "images");
    const TempFolder logs;
    std::string command = "cd '" + folder.path().string() + "' && '" + DICTBUILD_PROGRAM + "'";
    for (const std::string& arg : c.args) {
        command += " '" + arg + "'";
    }
    command += " <mylist.txt >'" + (logs / "output").string() + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    std::string expected = built.output;
    expected.replace(expected.find("(dic.txt)"), 9, "(" + c.named + ")");
    EXPECT_EQ(logs.read("output"), expected);
    EXPECT_TRUE(folder.read("images/dic.uns") == reference.read("dic.uns"));
    EXPECT_TRUE(folder.read("images/dic.bin") == reference.read("dic.bin"));
}

INSTANTIATE_TEST_SUITE_P(
    Lists, DictbuildWordListSource,
    testing::Values(SourceCase{"ListInAnotherFolder", {"-C", "images", "../mylist.txt"}, "../mylist.txt"},
                    SourceCase{"StandardInput", {"--directory=images", "-"}, "standard input"}),
    testing_support::CaseName{});

struct LockWaitSignalCase {
    const char* name;
    int signal;
    bool ignored_at_start;  // by whoever started the run: it stays ignored
};

class DictbuildLockWaitSignal : public testing::TestWithParam<LockWaitSignalCase> {};

TEST_P(DictbuildLockWaitSignal, EndsTheRunAtOnceLeavingNothingUnlessIgnored) {
    const LockWaitSignalCase& c = GetParam();
    const TempFolder folder;
    folder.write("dic.txt", "dog\ncat\n");
    std::error_code error;
    dicttools::FolderLock other = dicttools::FolderLock::acquire(folder.path(), dicttools::ManualStop{}, error);
    ASSERT_TRUE(other.held()) << error.message();
    int errors[2];
    ASSERT_EQ(::pipe(errors), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        if (c.ignored_at_start) {
            std::signal(c.signal, SIG_IGN);
        }
        if (::chdir(folder.path().c_str()) == 0 && null >= 0 && ::dup2(null, 0) == 0 && ::dup2(null, 1) == 1 &&
            ::dup2(errors[1], 2) == 2) {
            ::execl(DICTBUILD_PROGRAM, DICTBUILD_PROGRAM, nullptr);
        }
        ::_exit(127);
    }
    ::close(errors[1]);
    // Waiting once it says so; a bounded wait for each look.
    std::string said;
    pollfd look{errors[0], POLLIN, 0};
    while (said.find("waiting for another run") == std::string::npos && ::poll(&look, 1, 10000) > 0) {
        char chunk[256];
        const ssize_t count = ::read(errors[0], chunk, sizeof chunk);
        if (count <= 0) {
            break;
        }
        said.append(chunk, static_cast<std::size_t>(count));
    }
    ::kill(pid, c.signal);
    if (c.ignored_at_start) {
        other = dicttools::FolderLock();  // the run goes on once the lock is free
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(errors[0]);
    EXPECT_NE(said.find("waiting for another run"), std::string::npos) << said;
    ASSERT_TRUE(WIFEXITED(status)) << "ended by a signal instead of exiting";
    EXPECT_EQ(WEXITSTATUS(status), c.ignored_at_start ? 0 : 128 + c.signal);
    EXPECT_EQ(folder.entry_count(), c.ignored_at_start ? 3U : 1U) << "only dic.txt, or the pair beside it";
}

INSTANTIATE_TEST_SUITE_P(Signals, DictbuildLockWaitSignal,
                         testing::Values(LockWaitSignalCase{"Terminate", SIGTERM, false},
                                         LockWaitSignalCase{"Quit", SIGQUIT, false},
                                         LockWaitSignalCase{"IgnoredHangUp", SIGHUP, true}),
                         testing_support::CaseName{});

struct LostHelpCase {
    const char* name;
    const char* arg;
    enum class Output { full_device, pipe_without_reader, closed } output;  // standard output
    const char* errors;                                                     // what standard error says
};

class DictbuildLostHelp : public testing::TestWithParam<LostHelpCase> {};

// The status no other outcome gives, and never death by SIGPIPE.
TEST_P(DictbuildLostHelp, EndsWithTheStatusOfAnOutputError) {
    const LostHelpCase& c = GetParam();
    const TempFolder logs;
    int output[2];
    ASSERT_EQ(::pipe(output), 0);
    ::close(output[0]);  // gone before the program writes
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        using Output = LostHelpCase::Output;
        const int out = c.output == Output::pipe_without_reader ? output[1] : ::open("/dev/full", O_WRONLY);
        const int err = ::open((logs / "errors").c_str(), O_WRONLY | O_CREAT, 0600);
        if (out >= 0 && err >= 0 && ::dup2(out, 1) == 1 && ::dup2(err, 2) == 2 &&
            (c.output != Output::closed || ::close(1) == 0)) {
            ::execl(DICTBUILD_PROGRAM, DICTBUILD_PROGRAM, c.arg, nullptr);
        }
        ::_exit(127);
    }
    ::close(output[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 74);
    EXPECT_EQ(logs.read("errors"), c.errors);
}

INSTANTIATE_TEST_SUITE_P(Outputs, DictbuildLostHelp,
                         testing::Values(LostHelpCase{"HelpToAFullDevice", "--help", LostHelpCase::Output::full_device,
                                                      "dictbuild: cannot write the output\n"},
                                         LostHelpCase{"VersionToAPipeWithoutReader", "--version",
                                                      LostHelpCase::Output::pipe_without_reader, ""},
                                         LostHelpCase{"HelpToAClosedOutput", "-h", LostHelpCase::Output::closed,
                                                      "dictbuild: cannot write the output\n"}),
                         testing_support::CaseName{});

// As a run killed between its two renames leaves the pair: dic.bin new,
// dic.uns as it was, and the record of the replacement beside them.
TEST(DictbuildProgram, FinishesAReplacementLeftInTheMiddleBeforeItsOwn) {
    const pid_t ended = ::fork();
    ASSERT_GE(ended, 0);
    if (ended == 0) {
        ::_exit(0);
    }
    ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
    const TempFolder folder;
    folder.write("dic.txt", "dog\ncat\nOx\ncat\nant\n");
    const std::string stamp = std::to_string(ended) + "-0-0000000";
    folder.write("dic.bin", "new bin");
    folder.write(".dic.bin.tmp-" + stamp + "2", "old bin");
    folder.write("dic.uns", "old uns");
    std::filesystem::create_hard_link(folder / "dic.uns", folder / (".dic.uns.tmp-" + stamp + "4"));
    folder.write(".dic.uns.tmp-" + stamp + "3", "new uns");
    const std::filesystem::path full = std::filesystem::canonical(folder.path());
    folder.write(
        ".dic.bin.replacing-" + stamp + "5",
        dicttools::encode_record({full,
                                  {{"dic.bin", ".dic.bin.tmp-" + stamp + "1", ".dic.bin.tmp-" + stamp + "2"},
                                   {"dic.uns", ".dic.uns.tmp-" + stamp + "3", ".dic.uns.tmp-" + stamp + "4"}}}));

    const testing_support::ProgramRun run = testing_support::run_in_folder(DICTBUILD_PROGRAM, folder.path());
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.errors,
              "dictbuild: found dic.bin and dic.uns in the middle of a replacement by a run that ended; finished it: "
              "dic.bin and dic.uns are both new\n");
    EXPECT_TRUE(run.output.ends_with("Completed successfully. Program your prom with dic.bin\n")) << run.output;
    EXPECT_EQ(folder.entry_count(), 3U) << "the record and the hidden names are gone";
}

TEST(DictbuildProgram, MissingWordListExitsWithOne) {
    const TempFolder folder;
    const testing_support::ProgramRun run = testing_support::run_in_folder(DICTBUILD_PROGRAM, folder.path());
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(folder.entry_count(), 0U);
}

class DictbuildArguments : public testing::TestWithParam<testing_support::ArgumentCase> {};

TEST_P(DictbuildArguments, OnlyNoneBuildsTheImages) {
    const testing_support::ArgumentCase& c = GetParam();
    const TempFolder folder;
    folder.write("dic.txt", "dog\ncat\n");

    const testing_support::ProgramRun run = testing_support::run_in_folder(DICTBUILD_PROGRAM, folder.path(), c.args);

    if (c.runs) {
        EXPECT_EQ(run.exit_status, 0) << run.errors;
        EXPECT_TRUE(folder.exists("dic.bin") && folder.exists("dic.uns"));
        return;
    }
    testing_support::expect_ended_at_once(run, c);
    EXPECT_EQ(folder.entry_count(), 1U) << "dictbuild left files beside dic.txt";
}

INSTANTIATE_TEST_SUITE_P(CommandLines, DictbuildArguments,
                         testing::ValuesIn(testing_support::argument_cases("dictbuild")), testing_support::CaseName{});

}  // namespace
