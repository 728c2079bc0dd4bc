// POSIX: a program started with a standard stream closed.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>

#include "file_platform.hpp"
#include "standard_streams.hpp"
#include "support/temp_folder.hpp"

namespace dicttools {
namespace {

using testing_support::TempFolder;

TEST(StandardStreams, AClosedOneIsNotTakenByAFileOpenedLater) {
    const TempFolder folder;
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // What a run started with "<&- >&-" would do: the next file opened lands on 0.
        ::close(0);
        ::close(1);
        const StandardStreams streams = open_closed_standard_streams();
        std::FILE* file = create_new_file(folder / "new");
        const bool nothing_lost = static_cast<bool>(std::cout << std::flush);
        std::cout << "lost" << std::flush;  // the null device would take it, but no one reads it
        ::_exit(streams.opened && streams.input_was_closed && file != nullptr && ::fileno(file) > 2 && nothing_lost &&
                        !std::cout
                    ? 0
                    : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "a file took the place of standard output, or writing to the closed one seemed to work";
}

}  // namespace
}  // namespace dicttools
