#include "file_replacement.hpp"
#include "file_platform.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "support/case_name.hpp"
#include "support/temp_folder.hpp"

namespace dicttools {
namespace {

using testing_support::TempFolder;

enum class Step { none, lock, keep_aside, move, sync, remove };

/// What becomes of the chosen call of a step.
enum class Fault { fails, stops, kills };

/// The real steps, but the `at`th call of one of them (and the `also_at`th,
/// if not 0) fails, or requests the stop and then goes ahead, or ends the
/// process on the spot as a kill would. What is left behind is collected.
class FaultySteps : public ReplacementSteps {
public:
    FaultySteps(Step step, int at, int also_at = 0, Fault fault = Fault::fails, ManualStop* stop = nullptr)
        : ReplacementSteps({}, [this](const std::string& text) { left_behind += text; }),
          step_(step),
          at_(at),
          also_at_(also_at),
          fault_(fault),
          stop_(stop) {}

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
    void remove(const std::filesystem::path& file, std::error_code& error) override {
        if (!fails(Step::remove, error)) {
            ReplacementSteps::remove(file, error);
        }
    }

    std::string left_behind;

private:
    bool fails(Step step, std::error_code& error) {
        if (step != step_) {
            return false;
        }
        ++calls_;
        if (calls_ != at_ && calls_ != also_at_) {
            return false;
        }
        switch (fault_) {
            case Fault::stops:
                stop_->request(2);
                return false;
            case Fault::kills:
                std::abort();  // no destructor runs, as under a kill
            case Fault::fails:
                break;
        }
        error = std::make_error_code(std::errc::io_error);
        return true;
    }

    Step step_;
    int at_;
    int also_at_;
    Fault fault_;
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
    int also_at = 0;      // a second call of the step that fails
    /// What follows the reason in the error, or what is told left behind
    /// after a replacement; KEPT stands for the one hidden name left, which
    /// holds "old a".
    std::string said = "";
};

const std::string kIoError = std::make_error_code(std::errc::io_error).message();

/// The names in `folder` other than "a" and "b".
std::vector<std::string> others_in(const TempFolder& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        const std::string name = entry.path().filename().string();
        if (name != "a" && name != "b") {
            names.push_back(name);
        }
    }
    return names;
}

class PairReplacement : public testing::TestWithParam<PairCase> {};

TEST_P(PairReplacement, EachStepFailingLeavesTheEarlierPairOrSaysWhatIsWhere) {
    const PairCase& c = GetParam();
    const TempFolder folder;
    folder.write("a", "old a");
    if (c.earlier_b) {
        folder.write("b", "old b");
    }
    FaultySteps steps(c.step, c.at, c.also_at);
    const bool replaced = *c.failing == '\0';
    const std::string outcome = replace_pair(folder, steps, ManualStop{});

    const std::vector<std::string> others = others_in(folder);
    ASSERT_EQ(others.size(), c.said.empty() ? 0U : 1U) << "only a copy said to be kept is left";
    std::string said = c.said;
    if (!others.empty()) {
        said.replace(said.find("KEPT"), 4, others.front());
        EXPECT_EQ(folder.read(others.front()), "old a");
    }
    EXPECT_EQ(outcome, replaced ? "replaced" : std::string("Could not write ") + c.failing + ": " + kIoError + said);
    EXPECT_EQ(steps.left_behind, replaced ? said : "");
    const bool a_new = replaced || said.find("a is new") != std::string::npos;
    EXPECT_EQ(folder.read("a"), a_new ? "new a" : "old a");
    EXPECT_EQ(folder.read("b"), replaced ? "new b" : c.earlier_b ? "old b" : "");
    EXPECT_EQ(folder.exists("b"), replaced || c.earlier_b);
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
                                         PairCase{"SyncingAfterRemovingTheAsides", Step::sync, 2, true, ""},
                                         // Moving b fails, and so does putting a back (move 3).
                                         PairCase{"MovingBAndPuttingABack", Step::move, 2, true, "b", 3,
                                                  "; putting back the earlier a failed too (" + kIoError +
                                                      "): a is new, b is as it was and the earlier a is kept as KEPT"},
                                         PairCase{"RemovingTheAsideOfA", Step::remove, 1, true, "", 0,
                                                  "could not remove KEPT, the earlier a kept aside: " + kIoError}),
                         testing_support::CaseName{});

struct KillCase {
    const char* name;
    Step step;  // the step during which the process is killed
    int at;
};

class PairReplacementKilled : public testing::TestWithParam<KillCase> {};

TEST_P(PairReplacementKilled, LeavesNothingTheNextReplacementKeeps) {
    const TempFolder folder;
    folder.write("a", "old a");
    folder.write("b", "old b");
    EXPECT_DEATH(
        {
            FaultySteps steps(GetParam().step, GetParam().at, 0, Fault::kills);
            replace_pair(folder, steps, ManualStop{});
        },
        "");
    // A hidden name of a live process (this one) is never taken for one left behind.
    const ProcessStamp live = this_process();
    const std::string kept = ".a.tmp-" + std::to_string(live.id) + "-" + std::to_string(live.start) + "-0000abcd";
    folder.write(kept, "in use");

    ReplacementSteps system;
    EXPECT_EQ(replace_pair(folder, system, ManualStop{}), "replaced");
    EXPECT_EQ(folder.read("a"), "new a");
    EXPECT_EQ(folder.read("b"), "new b");
    EXPECT_EQ(others_in(folder), std::vector<std::string>{kept});
}

INSTANTIATE_TEST_SUITE_P(Moments, PairReplacementKilled,
                         testing::Values(KillCase{"WhileWritingBeforeTheLock", Step::lock, 1},
                                         KillCase{"KeepingBAside", Step::keep_aside, 2},
                                         KillCase{"MovingB", Step::move, 2}, KillCase{"Syncing", Step::sync, 1},
                                         KillCase{"RemovingTheAsides", Step::remove, 1}),
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
    FaultySteps steps(GetParam().step, 1, 0, Fault::stops, &stop);
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
