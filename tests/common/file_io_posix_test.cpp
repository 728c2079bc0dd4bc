// POSIX: a replacement writes through symbolic links and keeps the mode.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "file_io.hpp"
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
};

class ReplacementThroughLinks : public testing::TestWithParam<LinkCase> {};

TEST_P(ReplacementThroughLinks, ReplacesTheFileLinkedToAndKeepsItsMode) {
    const LinkCase& c = GetParam();
    const TempFolder folder;
    std::filesystem::create_directory(folder / "real");
    const std::string file = *c.link != '\0' ? c.link : "dic.bin";
    if (c.mode != 0) {
        folder.write(file, "old");
        ASSERT_EQ(::chmod((folder / file).c_str(), c.mode), 0);
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
    EXPECT_EQ(folder.entry_count(), 2U) << "dic.bin and real/, nothing more";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder / "real"), {}), *c.link != '\0' ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Targets, ReplacementThroughLinks,
                         testing::Values(LinkCase{"PrivateFile", "", false, 0600},
                                         LinkCase{"ReadOnlyFile", "", false, 0444},
                                         LinkCase{"RelativeLink", "real/target", false, 0640},
                                         LinkCase{"AbsoluteLink", "real/target", true, 0600},
                                         LinkCase{"LinkToNoFileYet", "real/target", false, 0}),
                         testing_support::CaseName{});

}  // namespace
}  // namespace dicttools
