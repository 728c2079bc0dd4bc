// POSIX: a replacement writes through symbolic links, keeps the mode and
// owner, refuses two names of one file, and says when it waits for the lock.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <string>

#include "file_replacement.hpp"
#include "support/case_name.hpp"
#include "support/temp_folder.hpp"

namespace dicttools {
namespace {

using testing_support::TempFolder;

struct LinkCase {
    const char* name;
    const char* link;  // what "dic.bin" links to (relative to the folder), or "" for no link
    bool absolute;     // the link holds the full path
    mode_t mode;       // the earlier file's mode, or 0 for none
    uid_t owner = 0;   // the earlier file's owner and group when not this user's (root only)
};

class ReplacementThroughLinks : public testing::TestWithParam<LinkCase> {};

TEST_P(ReplacementThroughLinks, ReplacesTheFileLinkedToAndKeepsItsMode) {
    const LinkCase& c = GetParam();
    const TempFolder folder;
    std::filesystem::create_directory(folder / "real");
    const std::string file = *c.link != '\0' ? c.link : "dic.bin";
    if (c.owner != 0 && ::geteuid() != 0) {
        GTEST_SKIP() << "only root may give a file away";
    }
    if (c.mode != 0) {
        folder.write(file, "old");
        ASSERT_EQ(::chmod((folder / file).c_str(), c.mode), 0);
        ASSERT_EQ(::chown((folder / file).c_str(), c.owner != 0 ? c.owner : ::geteuid(),
                          c.owner != 0 ? c.owner : ::getegid()),
                  0);
    }
    if (*c.link != '\0') {
        std::filesystem::create_symlink(c.absolute ? folder / c.link : std::filesystem::path(c.link),
                                        folder / "dic.bin");
    }

    FileReplacement replacement(folder / "dic.bin");
    const std::uint8_t bytes[] = {'n', 'e', 'w'};
    replacement.write(bytes);
    replacement.commit();

    EXPECT_EQ(folder.read(file), "new");
    EXPECT_EQ(std::filesystem::is_symlink(folder / "dic.bin"), *c.link != '\0');
    struct stat status {};
    ASSERT_EQ(::stat((folder / file).c_str(), &status), 0);
    if (c.mode != 0) {
        EXPECT_EQ(status.st_mode & 07777, c.mode);
    }
    if (c.owner != 0) {
        EXPECT_EQ(status.st_uid, c.owner);
        EXPECT_EQ(status.st_gid, c.owner);
    }
    EXPECT_EQ(folder.entry_count(), 2U) << "dic.bin and real/, nothing more";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "real"), {}), *c.link != '\0' ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Targets, ReplacementThroughLinks,
                         testing::Values(LinkCase{"PrivateFile", "", false, 0600},
                                         LinkCase{"ReadOnlyFile", "", false, 0444},
                                         LinkCase{"RelativeLink", "real/target", false, 0640},
                                         LinkCase{"AbsoluteLink", "real/target", true, 0600},
                                         LinkCase{"LinkToNoFileYet", "real/target", false, 0},
                                         LinkCase{"SomeoneElsesFile", "", false, 0600, 65534}),
                         testing_support::CaseName{});

struct SameFileCase {
    const char* name;
    const char* a_link;  // what "a" links to, or "" for a plain file
    const char* b_link;  // what "b" links to
    const char* error;   // "" when both are replaced
};

class ReplacementOfOneFileTwice : public testing::TestWithParam<SameFileCase> {};

TEST_P(ReplacementOfOneFileTwice, ReplacesNothing) {
    const SameFileCase& c = GetParam();
    const TempFolder folder;
    folder.write("same", "old");
    std::filesystem::create_directory_symlink(".", folder / "here");
    if (*c.a_link != '\0') {
        std::filesystem::create_symlink(c.a_link, folder / "a");
    } else {
        folder.write("a", "old");
    }
    if (std::string(c.b_link) == "hard link to a") {
        std::filesystem::create_hard_link(folder / "a", folder / "b");
    } else {
        std::filesystem::create_symlink(c.b_link, folder / "b");
    }
    std::string outcome = "replaced";
    try {
        const std::uint8_t new_a[] = {'n', 'e', 'w', ' ', 'a'};
        const std::uint8_t new_b[] = {'n', 'e', 'w', ' ', 'b'};
        FileReplacement a(folder / "a");
        a.write(new_a);
        FileReplacement b(folder / "b");
        b.write(new_b);
        FileReplacement::commit_together({&a, &b}, ManualStop{});
    } catch (const FileError& error) {
        outcome = error.what();
    }
    const bool refused = *c.error != '\0';
    EXPECT_EQ(outcome, refused ? c.error : "replaced");
    EXPECT_EQ(folder.read("a"), refused ? "old" : "new a");
    EXPECT_EQ(folder.read("b"), refused ? "old" : "new b");
    EXPECT_EQ(folder.entry_count(), 4U) << "same, here, a and b: no temporary";
}

INSTANTIATE_TEST_SUITE_P(
    Links, ReplacementOfOneFileTwice,
    testing::Values(SameFileCase{"BLinksToA", "", "a", "Could not write b: it is the same file as a"},
                    SameFileCase{"BothLinkToOne", "same", "same", "Could not write b: it is the same file as a"},
                    SameFileCase{"ThroughAFolderLink", "", "here/a", "Could not write b: it is the same file as a"},
                    // Names of their own: each is replaced by a file of its own.
                    SameFileCase{"HardLink", "", "hard link to a", ""}),
    testing_support::CaseName{});

TEST(FolderLockWait, IsAnnouncedOnceAndOnlyWhenAnotherHoldsTheLockAndNotAfterAStop) {
    struct Case {
        bool held;      // by another
        bool stopped;   // before the wait
        int announced;  // how often the wait is told
    };
    for (const Case c : {Case{false, false, 0}, Case{true, false, 1}, Case{false, true, 0}, Case{true, true, 0}}) {
        const TempFolder folder;
        std::error_code error;
        FolderLock other = c.held ? FolderLock::acquire(folder.path(), ManualStop{}, error) : FolderLock();
        ASSERT_FALSE(error);
        int announced = 0;
        // Told of the wait, the other holder lets go (else it would never end).
        ReplacementSteps steps([&] {
            ++announced;
            other = FolderLock();
        });
        ManualStop stop;
        if (c.stopped) {
            stop.request(SIGINT);
        }
        FileReplacement file(folder / "a");
        EXPECT_EQ(FileReplacement::commit_together({&file}, stop, steps), !c.stopped);
        EXPECT_EQ(announced, c.announced);
        EXPECT_EQ(folder.entry_count(), c.stopped ? 0U : 1U);
    }
}

TEST(SpaceReservation, LeavesNoZerosAfterWhatWasWritten) {
    const TempFolder folder;
    FileReplacement file(folder / "dic.sav");
    file.reserve(524288);
    const std::uint8_t bytes[] = {'s', 'h', 'o', 'r', 't'};
    file.write(bytes);
    file.commit();
    EXPECT_EQ(folder.read("dic.sav"), "short");
}

}  // namespace
}  // namespace dicttools
