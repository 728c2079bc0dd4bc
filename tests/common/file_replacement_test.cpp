#include "file_replacement.hpp"
#include "file_platform.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "console_text.hpp"
#include "replacement_record.hpp"
#include "support/case_name.hpp"
#include "support/temp_folder.hpp"

namespace dicttools {
namespace {

using testing_support::TempFolder;

enum class Step { none, lock, keep_aside, record, move, sync, remove };

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
    void write_record(const std::filesystem::path& record, const std::string& bytes, std::error_code& error) override {
        if (!fails(Step::record, error)) {
            ReplacementSteps::write_record(record, bytes, error);
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

/// Replaces `a_name` and "b" in `folder` together, with new contents "new
/// a" and "new b". The result of commit_together(), or the FileError's text.
std::string replace_pair(const TempFolder& folder, ReplacementSteps& steps, const StopRequest& stop,
                         const std::string& a_name = "a") {
    try {
        FileReplacement a(folder / a_name);
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
    std::string a_name = "a";         // the name of "a"
    bool earlier_name_taken = false;  // "a.earlier" holds another file before
};

const std::string kIoError = std::make_error_code(std::errc::io_error).message();

/// The names in `folder` other than `a_name` and "b".
std::vector<std::string> others_in(const TempFolder& folder, const std::string& a_name = "a") {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        const std::string name = entry.path().filename().string();
        if (name != a_name && name != "b") {
            names.push_back(name);
        }
    }
    return names;
}

class PairReplacement : public testing::TestWithParam<PairCase> {};

TEST_P(PairReplacement, EachStepFailingLeavesTheEarlierPairOrSaysWhatIsWhere) {
    const PairCase& c = GetParam();
#if GTEST_OS_WINDOWS
    if (c.a_name != "a") {
        GTEST_SKIP() << "Windows takes no control byte in a file name";
    }
#endif
    const TempFolder folder;
    folder.write(c.a_name, "old a");
    if (c.earlier_b) {
        folder.write("b", "old b");
    }
    if (c.earlier_name_taken) {
        folder.write("a.earlier", "another file");
    }
    FaultySteps steps(c.step, c.at, c.also_at);
    const bool replaced = *c.failing == '\0';
    const std::string outcome = replace_pair(folder, steps, ManualStop{}, c.a_name);

    std::vector<std::string> others = others_in(folder, c.a_name);
    if (c.earlier_name_taken) {
        EXPECT_EQ(folder.read("a.earlier"), "another file");
        std::erase(others, "a.earlier");
    }
    ASSERT_EQ(others.size(), c.said.empty() ? 0U : 1U) << "only a copy said to be kept is left";
    std::string said = c.said;
    if (!others.empty()) {
        if (const std::size_t kept = said.find("KEPT"); kept != std::string::npos) {
            said.replace(kept, 4, printable_name(others.front()));
        }
        EXPECT_EQ(folder.read(others.front()), "old a");
    }
    EXPECT_EQ(outcome, replaced ? "replaced" : std::string("Could not write ") + c.failing + ": " + kIoError + said);
    EXPECT_EQ(steps.left_behind, replaced ? said : "");
    const bool a_new = replaced || said.find(" is new, b is as it was") != std::string::npos;
    EXPECT_EQ(folder.read(c.a_name), a_new ? "new a" : "old a");
    EXPECT_EQ(folder.read("b"), replaced ? "new b" : c.earlier_b ? "old b" : "");
    EXPECT_EQ(folder.exists("b"), replaced || c.earlier_b);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, PairReplacement,
    testing::Values(PairCase{"AllSucceed", Step::none, 0, true, ""}, PairCase{"NoEarlierB", Step::none, 0, false, ""},
                    PairCase{"Lock", Step::lock, 1, true, "a"},
                    PairCase{"KeepingAAside", Step::keep_aside, 1, true, "a"},
                    PairCase{"KeepingBAside", Step::keep_aside, 2, true, "b"},
                    PairCase{"WritingTheRecord", Step::record, 1, true, "a"},
                    PairCase{"MovingA", Step::move, 1, true, "a"}, PairCase{"MovingB", Step::move, 2, true, "b"},
                    PairCase{"MovingBWithoutEarlierB", Step::move, 2, false, "b"},
                    PairCase{"SyncingTheFolder", Step::sync, 1, true, "a"},
                    // Once the asides are gone the replacement is done.
                    PairCase{"SyncingAfterRemovingTheAsides", Step::sync, 2, true, ""},
                    // Moving b fails, and so does putting a back (move 3): the
                    // earlier a gets a name the user sees and no sweep takes.
                    PairCase{"MovingBAndPuttingABack", Step::move, 2, true, "b", 3,
                             "; putting back the earlier a failed too (" + kIoError +
                                 "): a is new, b is as it was and the earlier a is kept as "
                                 "a.earlier"},
                    PairCase{"PuttingBackWithTheVisibleNameTaken", Step::move, 2, true, "b", 3,
                             "; putting back the earlier a failed too (" + kIoError +
                                 "): a is new, b is as it was and the earlier a is kept as a.earlier.2",
                             "a", true},
                    // Names in the messages are shown escaped.
                    PairCase{"PuttingBackANameWithAControlByte", Step::move, 2, true, "b", 3,
                             "; putting back the earlier a\\x1B failed too (" + kIoError +
                                 "): a\\x1B is new, b is as it was and the earlier a\\x1B is "
                                 "kept as a\\x1B.earlier",
                             "a\x1B"},
                    PairCase{"RemovingTheAsideOfA", Step::remove, 1, true, "", 0,
                             "could not remove KEPT, the earlier a\\x1B kept aside: " + kIoError, "a\x1B"}),
    testing_support::CaseName{});

struct KillCase {
    const char* name;
    Step step;  // the step during which the process is killed
    int at;
    /// What the next run finds and does before its own work: a replacement
    /// killed between its first and last rename is finished or undone.
    std::string told = "";
    bool new_b_lost = false;  // the new b is removed after the kill
    bool moved = false;       // the folder is then moved, as a stick mounted at another path
};

const std::string kFound = "found a and b in the middle of a replacement by a run that ended; ";
const std::string kFinished = kFound + "finished it: a and b are both new";

class PairReplacementKilled : public testing::TestWithParam<KillCase> {};

TEST_P(PairReplacementKilled, LeavesNothingTheNextReplacementKeeps) {
    const KillCase& c = GetParam();
#if GTEST_OS_WINDOWS
    if (!c.told.empty()) {
        GTEST_SKIP() << "on Windows a death test's child runs the test anew, in a scratch folder of its own";
    }
#endif
    const TempFolder folder;
    folder.write("a", "old a");
    folder.write("b", "old b");
    EXPECT_DEATH(
        {
            FaultySteps steps(c.step, c.at, 0, Fault::kills);
            replace_pair(folder, steps, ManualStop{});
        },
        "");
    for (const std::string& name : others_in(folder)) {
        if (c.new_b_lost && folder.read(name) == "new b") {
            std::filesystem::remove(folder / name);
        }
    }
    const TempFolder moved;
    if (c.moved) {
        std::filesystem::rename(folder.path(), moved.path());  // over the empty folder
    }
    const TempFolder& here = c.moved ? moved : folder;
    ReplacementSteps finishing;
    const std::vector<std::string> told =
        FileReplacement::finish_unfinished({here / "a", here / "b"}, ManualStop{}, finishing);
    EXPECT_EQ(told, c.told.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.told});
    const std::string which = c.told == kFinished ? "new" : "old";
    EXPECT_EQ(here.read("a"), which + " a");
    EXPECT_EQ(here.read("b"), which + " b");

    // A hidden name of a live process (this one) is never taken for one left behind.
    const ProcessStamp live = this_process();
    const std::string kept = ".a.tmp-" + std::to_string(live.id) + "-" + std::to_string(live.start) + "-0000abcd";
    here.write(kept, "in use");

    ReplacementSteps system;
    EXPECT_EQ(replace_pair(here, system, ManualStop{}), "replaced");
    EXPECT_EQ(here.read("a"), "new a");
    EXPECT_EQ(here.read("b"), "new b");
    EXPECT_EQ(others_in(here), std::vector<std::string>{kept});
}

INSTANTIATE_TEST_SUITE_P(
    Moments, PairReplacementKilled,
    testing::Values(KillCase{"WhileWritingBeforeTheLock", Step::lock, 1},
                    KillCase{"KeepingBAside", Step::keep_aside, 2}, KillCase{"WritingTheRecord", Step::record, 1},
                    // Every new file is there: the replacement is finished.
                    KillCase{"MovingA", Step::move, 1, kFinished},
                    KillCase{"BetweenTheRenames", Step::move, 2, kFinished},
                    KillCase{"BetweenTheRenamesThenTheFolderMoved", Step::move, 2, kFinished, false, true},
                    KillCase{"Syncing", Step::sync, 1, kFinished},
                    KillCase{"RemovingTheAsides", Step::remove, 1, kFinished},
                    // The new b is gone: the replacement is undone.
                    KillCase{"BetweenTheRenamesTheNewBLost", Step::move, 2,
                             kFound + "the new b is missing, so it is undone: a and b are as "
                                      "they were",
                             true}),
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

TEST(ReplacementIfAbsent, NeverReplacesAFileThereAtTheCommit) {
    for (const bool appears : {false, true}) {
        const TempFolder folder;
        bool placed = false;
        {
            FileReplacement a(folder / "a");
            write_file(a, "new a");
            if (appears) {
                folder.write("a", "put there meanwhile");
            }
            placed = a.commit_if_absent();
        }
        EXPECT_EQ(placed, !appears);
        EXPECT_EQ(folder.read("a"), appears ? "put there meanwhile" : "new a");
        EXPECT_EQ(folder.entry_count(), 1U) << appears << ": no temporary file is left";
    }
}

// A record cut short by the end of its process tells of no replacement; one
// found in a folder moved or copied since never acts outside that folder.
TEST(ReplacementRecord, OnlyAWholeOneIsRead) {
    const Record record{std::filesystem::current_path(),
                        {{"dic.bin", ".dic.bin.tmp-1-2-00000003", ".dic.bin.tmp-1-2-00000004"},
                         {std::filesystem::current_path() / "g" / "dic.uns", ".dic.uns.tmp-1-2-00000005", ""}}};
    const std::string whole = encode_record(record);
    EXPECT_EQ(decode_record(whole), record);
    for (std::size_t size = 0; size < whole.size(); ++size) {
        EXPECT_EQ(decode_record(whole.substr(0, size)), std::nullopt) << size;
    }
    EXPECT_TRUE(finishable_in(record, record.folder));
    EXPECT_FALSE(finishable_in(record, record.folder / "copy"));
}

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
