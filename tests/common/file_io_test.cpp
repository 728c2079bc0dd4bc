#include "file_io.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/case_name.hpp"
#include "support/temp_folder.hpp"

namespace dicttools {
namespace {

using testing_support::TempFolder;

enum class Step { none, lock, keep_aside, move, sync };

/// The real steps, but the `at`th call of one of them fails (or, with
/// `stop` set, requests the stop and then goes ahead).
class FaultySteps : public ReplacementSteps {
public:
    FaultySteps(Step step, int at, ManualStop* stop = nullptr) : step_(step), at_(at), stop_(stop) {}

    FolderLock lock(const std::filesystem::path& folder, const StopRequest& stop, std::error_code& error) override {
        return fails(Step::lock, error) ? FolderLock() : ReplacementSteps::lock(folder, stop, error);
    }
    void keep_aside(const std::filesystem::path& file, const std::filesystem::path& aside,
                    std::error_code& error) override {
        if (!fails(Step::keep_aside, error)) {
            ReplacementSteps::keep_aside(file, aside, error);
        }
    }
    void move(const std::filesystem::path& from, const std::filesystem::path& to, std::error_code& error) override {
        if (!fails(Step::move, error)) {
            ReplacementSteps::move(from, to, error);
        }
    }
    void sync(const std::filesystem::path& folder, std::error_code& error) override {
        if (!fails(Step::sync, error)) {
            ReplacementSteps::sync(folder, error);
        }
    }

private:
    bool fails(Step step, std::error_code& error) {
        if (step != step_ || ++calls_ != at_) {
            return false;
        }
        if (stop_ != nullptr) {
            stop_->request(2);
            return false;
        }
        error = std::make_error_code(std::errc::io_error);
        return true;
    }

    Step step_;
    int at_;
    ManualStop* stop_;
    int calls_ = 0;
};

void write_file(FileReplacement& file, std::string_view bytes) {
    file.write({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

/// Replaces "a" and "b" in `folder` together, with new contents "new a"
/// and "new b". The result of commit_together(), or the FileError's text.
std::string replace_pair(const TempFolder& folder, ReplacementSteps& steps, const StopRequest& stop) {
    try {
        FileReplacement a(folder / "a");
        write_file(a, "new a");
        FileReplacement b(folder / "b");
        write_file(b, "new b");
        return FileReplacement::commit_together({&a, &b}, stop, steps) ? "replaced" : "stopped";
    } catch (const FileError& error) {
        return error.what();
    }
}

struct PairCase {
    const char* name;
    Step step;
    int at;
    bool earlier_b;       // whether "b" exists before
    const char* failing;  // the file named in the error, if any
};

class PairReplacement : public testing::TestWithParam<PairCase> {};

TEST_P(PairReplacement, EachStepFailingLeavesTheEarlierPairAndNoTemporary) {
    const PairCase& c = GetParam();
    const TempFolder folder;
    folder.write("a", "old a");
    if (c.earlier_b) {
        folder.write("b", "old b");
    }
    FaultySteps steps(c.step, c.at);
    const bool replaced = *c.failing == '\0';
    const std::string io_error = std::make_error_code(std::errc::io_error).message();
    EXPECT_EQ(replace_pair(folder, steps, ManualStop{}),
              replaced ? "replaced" : std::string("Could not write ") + c.failing + ": " + io_error);
    EXPECT_EQ(folder.read("a"), replaced ? "new a" : "old a");
    EXPECT_EQ(folder.read("b"), replaced ? "new b" : c.earlier_b ? "old b" : "");
    EXPECT_EQ(folder.exists("b"), replaced || c.earlier_b);
    EXPECT_EQ(folder.entry_count(), replaced || c.earlier_b ? 2U : 1U) << "nothing else is left";
}

INSTANTIATE_TEST_SUITE_P(Steps, PairReplacement,
                         testing::Values(PairCase{"AllSucceed", Step::none, 0, true, ""},
                                         PairCase{"NoEarlierB", Step::none, 0, false, ""},
                                         PairCase{"Lock", Step::lock, 1, true, "a"},
                                         PairCase{"KeepingAAside", Step::keep_aside, 1, true, "a"},
                                         PairCase{"KeepingBAside", Step::keep_aside, 2, true, "b"},
                                         PairCase{"MovingA", Step::move, 1, true, "a"},
                                         PairCase{"MovingB", Step::move, 2, true, "b"},
                                         PairCase{"MovingBWithoutEarlierB", Step::move, 2, false, "b"},
                                         PairCase{"SyncingTheFolder", Step::sync, 1, true, "a"},
                                         // Once the asides are gone the replacement is done.
                                         PairCase{"SyncingAfterRemovingTheAsides", Step::sync, 2, true, ""}),
                         testing_support::CaseName{});

struct StopCase {
    const char* name;
    Step step;  // the step during which the stop comes
    std::string outcome;
};

class PairReplacementStop : public testing::TestWithParam<StopCase> {};

TEST_P(PairReplacementStop, BeforeTheRenamesNothingIsReplacedAfterwardsAllIs) {
    const TempFolder folder;
    folder.write("a", "old a");
    folder.write("b", "old b");
    ManualStop stop;
    FaultySteps steps(GetParam().step, 1, &stop);
    EXPECT_EQ(replace_pair(folder, steps, stop), GetParam().outcome);
    EXPECT_TRUE(stop.requested());
    const std::string which = GetParam().outcome == "replaced" ? "new" : "old";
    EXPECT_EQ(folder.read("a"), which + " a");
    EXPECT_EQ(folder.read("b"), which + " b");
    EXPECT_EQ(folder.entry_count(), 2U);
}

INSTANTIATE_TEST_SUITE_P(Moments, PairReplacementStop,
                         testing::Values(StopCase{"WhileWaitingForTheLock", Step::lock, "stopped"},
                                         StopCase{"WhileKeepingAside", Step::keep_aside, "replaced"},
                                         StopCase{"WhileMoving", Step::move, "replaced"}),
                         testing_support::CaseName{});

TEST(StickyFolder, OnlyRootAndTheOwnersMayRemoveAName) {
    struct Case {
        bool sticky;
        std::uint32_t folder_owner, file_owner, user;
        bool may;
    };
    for (const Case c : {Case{false, 0, 0, 1000, true}, Case{true, 0, 0, 1000, false}, Case{true, 0, 1000, 1000, true},
                         Case{true, 1000, 0, 1000, true}, Case{true, 1000, 1000, 0, true}}) {
        EXPECT_EQ(may_remove_name(c.sticky, c.folder_owner, c.file_owner, c.user), c.may)
            << c.sticky << ' ' << c.folder_owner << ' ' << c.file_owner << ' ' << c.user;
    }
}

}  // namespace
}  // namespace dicttools
