#include "builder.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "image_layout.hpp"
#include "support/case_name.hpp"
#include "support/temp_folder.hpp"
#include "word_list.hpp"

namespace dictbuild {
namespace {

using dicttools::kImageSize;

using testing_support::TempFolder;

const std::string kBanner =
    "\nQVR Crossword Solver Dictionary Generator\n"
    "=========================================\n\n"
    "Opening source dictionary (dic.txt)\n";

struct BuildRun {
    ExitStatus status;
    std::string console;
    std::string errors;
};

BuildRun build_in(const TempFolder& folder, const dicttools::StopRequest& stop = dicttools::ManualStop{}) {
    std::ostringstream console;
    std::ostringstream errors;
    const ExitStatus status = run_builder({console, errors}, folder.path(), stop);
    return {status, console.str(), errors.str()};
}

TEST(Builder, MissingWordListWritesNothing) {
    const TempFolder folder;
    const BuildRun run = build_in(folder);
    EXPECT_EQ(run.status, ExitStatus::word_list_unusable);
    EXPECT_EQ(run.console, kBanner + "Could not find dic.txt, exiting\n");
    EXPECT_EQ(folder.entry_count(), 0U);
}

TEST(Builder, WordListThatCannotBeReadWritesNothing) {
    const TempFolder folder;
    std::filesystem::create_directory(folder / "dic.txt");
    const BuildRun run = build_in(folder);
    EXPECT_EQ(run.status, ExitStatus::word_list_unusable);
    EXPECT_EQ(run.console, kBanner + "Could not read dic.txt (Is a directory), exiting\n");
    EXPECT_EQ(folder.entry_count(), 1U);

    // Standard input closed at the start: the null device in its place is no list.
    WordListSource closed_input;
    closed_input.standard_input = true;
    closed_input.input_closed = true;
    std::ostringstream console;
    std::ostringstream errors;
    EXPECT_EQ(run_builder({console, errors}, folder.path(), dicttools::ManualStop{}, closed_input),
              ExitStatus::word_list_unusable);
    EXPECT_NE(console.str().find("Could not read standard input (Bad file descriptor), exiting\n"), std::string::npos);
    EXPECT_EQ(folder.entry_count(), 1U);

    // There, but it cannot be opened: not a missing file.
    const TempFolder looped;
    std::error_code no_links;
    std::filesystem::create_symlink("dic.txt", looped / "dic.txt", no_links);
    if (no_links) {
        GTEST_SKIP() << "no symbolic links for this user: " << no_links.message();
    }
    const BuildRun loop = build_in(looped);
    EXPECT_EQ(loop.status, ExitStatus::word_list_unusable);
    EXPECT_EQ(loop.console, kBanner + "Could not read dic.txt (" + std::strerror(ELOOP) + "), exiting\n");
    EXPECT_EQ(looped.entry_count(), 1U);
}

TEST(Builder, StopRequestedWhileReadingWritesNothing) {
    const TempFolder folder;
    folder.write("dic.txt", "dog\ncat\n");
    dicttools::ManualStop stop;
    stop.request(SIGTERM);
    const BuildRun run = build_in(folder, stop);
    EXPECT_EQ(run.status, ExitStatus::interrupted);
    EXPECT_EQ(run.console, kBanner);
    EXPECT_EQ(folder.entry_count(), 1U);
}

struct WarningCase {
    const char* name;
    std::string word_list;
    std::string errors;
    ExitStatus status = ExitStatus::done;
};

class BuilderWarning : public testing::TestWithParam<WarningCase> {};

TEST_P(BuilderWarning, NamesTheLikelyMistakeOnStandardErrorOnly) {
    const TempFolder folder;
    folder.write("dic.txt", GetParam().word_list);
    const BuildRun run = build_in(folder);
    EXPECT_EQ(run.errors, GetParam().errors);
    EXPECT_EQ(run.status, GetParam().status);
    EXPECT_EQ(run.console.find("WARNING: dic.txt "), std::string::npos);
    EXPECT_EQ(folder.read("dic.uns").size(), kImageSize);
}

std::string repeated(const std::string& text, std::size_t times) {
    std::string result;
    for (std::size_t i = 0; i < times; ++i) {
        result += text;
    }
    return result;
}

const std::string kByteOrderMark =
    "WARNING: dic.txt starts with a UTF-8 byte order mark (EF BB BF), which becomes part of its first word; save it "
    "without one\n";
const std::string kUtf16 =
    "WARNING: dic.txt looks like UTF-16 text, whose 0x00 bytes cut every word short; save it as 8-bit text\n";
const std::string kCrLineEnds =
    "WARNING: dic.txt has lines ending in CR alone, which is no line end here, so lines run together; end them in LF "
    "or CR LF\n";
const std::string kCtrlZ =
    "WARNING: dic.txt has a Ctrl-Z byte (0x1A) that ends the list early: nothing after it is read; remove it\n";
const std::string kNoWord = "WARNING: dic.txt gives no word of 2 to 29 characters, so the image holds no words\n";
const std::string kOneLongLine =
    "WARNING: dic.txt has 1 line of more than 29 characters, left out of the image; the first is line 1\n";
const std::string kEmpty = "WARNING: dic.txt is empty or blank, so the image holds no words\n";

std::string unprintable(const std::string& count_and_first) {
    return "WARNING: dic.txt has " + count_and_first + "\"\n";
}
const std::string kOneWord =
    "1 word with bytes outside printable ASCII, stored as they are; the first is on line 1: \"";

INSTANTIATE_TEST_SUITE_P(
    Lists, BuilderWarning,
    testing::Values(
        WarningCase{"PlainList", "dog\ncat\r\nOx\n", ""}, WarningCase{"EmptyList", "", kEmpty},
        WarningCase{"BlankLinesOnly", "\n\r\n\n", kEmpty}, WarningCase{"LoneCrInsideAWord", "a\rb\ncd\n", ""},
        WarningCase{"ByteOrderMark",
                    "\xEF\xBB\xBF"
                    "dog\ncat\n",
                    kByteOrderMark + unprintable(kOneWord + R"(\xEF\xBB\xBFdog)")},
        WarningCase{"Utf16LittleEndianWithMark",
                    std::string("\xFF\xFE"
                                "d\0o\0g\0\n\0",
                                10),
                    kUtf16 + unprintable(kOneWord + R"(\xFF\xFEd)")},  // the mark and "d" make a word
        WarningCase{"Utf16BigEndianWithoutMark", std::string("\0d\0o\0g\0\n\0c\0a\0t\0\n", 16), kUtf16 + kNoWord},
        WarningCase{"CrLineEnds", "dog\rcat\rant\r", kCrLineEnds + unprintable(kOneWord + R"(dog\x0Dcat\x0Dant)")},
        // Space and tilde are the edges of printable ASCII; 0x1F, 0x7F and 0x80 lie past them.
        WarningCase{"BytesOutsidePrintableAscii",
                    "ox\ncaf\xC3\xA9\n\xC3\xA9t\xC3\xA9\n\xE9\n~ abcdefghijklmno~\nZz ~@\nabcdefgh\x7F\nab\x1F\n"
                    "abcdefg\x80z\n",
                    unprintable("5 words with bytes outside printable ASCII, stored as "
                                "they are; the first is on line 2: \"caf\\xC3\\xA9")},
        WarningCase{"LongCrOnlyList", repeated("word\r", 100), kCrLineEnds + kNoWord + kOneLongLine},
        // 30 characters and more are no word; 29 are.
        WarningCase{
            "LongLines",
            "ox\n" + std::string(29, 'a') + "\n" + std::string(30, 'b') + "\r\ncat\n" + std::string(34, 'c') + "\n",
            "WARNING: dic.txt has 2 lines of more than 29 characters, left out of the image; the first is "
            "line 3\n"},
        WarningCase{"OneCharacterLines", "a\nb\nc\n", kNoWord},
        WarningCase{"ZerosOnly", std::string(600, '\0'), kNoWord + kOneLongLine},
        WarningCase{"CtrlZAtTheEnd", "dog\ncat\n\x1a", ""}, WarningCase{"CtrlZAmidTheList", "dog\n\x1a\ncat\n", kCtrlZ},
        WarningCase{"CtrlZFirst", "\x1a\ncat\ndog\n", kCtrlZ + kNoWord}),
    testing_support::CaseName());

TEST(Builder, ImageTooLargeIsWrittenCutButNotCalledASuccess) {
    const TempFolder folder;
    std::string lines;
    for (int i = 0; i < 70000; ++i) {
        lines += "w" + std::to_string(1000000 + i) + "\n";  // 8 characters each
    }
    folder.write("dic.txt", lines);
    const BuildRun run = build_in(folder);
    EXPECT_EQ(run.status, ExitStatus::image_too_large);
    const std::string expected_tail =
        "Final address used is 00088BF9\n"
        "ERROR: The image file is larger than your prom!\n        Remove some words\n"
        "Creating dictionary image file, dic.bin ( this is the PROM image )...\n"
        "Creating unscrambled dictionary image file, dic.uns ( for reference only )...\n";
    ASSERT_GE(run.console.size(), expected_tail.size());
    EXPECT_EQ(run.console.substr(run.console.size() - expected_tail.size()), expected_tail);
    EXPECT_EQ(folder.read("dic.bin").size(), kImageSize);
    EXPECT_EQ(folder.read("dic.uns").size(), kImageSize);
}

struct FolderInTheWayCase {
    const char* name;
    const char* folder;  // the image file that is a folder
    const char* file;    // the other one, with earlier contents
    const char* told;    // what the console says, the two written at once as if in turn
};

class BuilderFolderInTheWay : public testing::TestWithParam<FolderInTheWayCase> {};

TEST_P(BuilderFolderInTheWay, KeepsTheEarlierFile) {
    const FolderInTheWayCase& c = GetParam();
    const TempFolder folder;
    folder.write("dic.txt", "dog\ncat\n");
    std::filesystem::create_directory(folder / c.folder);
    folder.write(c.file, "old image");
    const BuildRun run = build_in(folder);
    EXPECT_EQ(run.status, ExitStatus::write_failed);
    EXPECT_NE(run.console.find(std::string(c.told) + "ERROR: Could not write " + c.folder + ": Is a directory\n"),
              std::string::npos)
        << run.console;
    EXPECT_EQ(run.console.find("Completed successfully"), std::string::npos);
    EXPECT_EQ(folder.read(c.file), "old image");
    EXPECT_EQ(folder.entry_count(), 3U) << "no temporary file is left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Files, BuilderFolderInTheWay,
    testing::Values(FolderInTheWayCase{"PromImage", "dic.bin", "dic.uns", "( this is the PROM image )...\n"},
                    FolderInTheWayCase{"LinearImage", "dic.uns", "dic.bin",
                                       "( this is the PROM image )...\nCreating unscrambled "
                                       "dictionary image file, dic.uns ( for reference only )...\n"}),
    testing_support::CaseName{});

struct LinkedOutputCase {
    const char* name;
    const char* link;  // the image file that is a link
    const char* to;    // what it links to
    const char* error;
    const char* list = "dic.txt";  // the word list named
    bool hard = false;             // a hard link rather than a symbolic one
};

class BuilderLinkedOutput : public testing::TestWithParam<LinkedOutputCase> {};

TEST_P(BuilderLinkedOutput, ReplacesNothing) {
    const LinkedOutputCase& c = GetParam();
    const TempFolder folder;
    folder.write("dic.txt", "dog\ncat\n");
    for (const char* image : {"dic.bin", "dic.uns"}) {
        if (std::string(image) != c.link) {
            folder.write(image, "old image");
        }
    }
    std::error_code error;
    if (c.hard) {
        std::filesystem::create_hard_link(folder / c.to, folder / c.link, error);
    } else {
        std::filesystem::create_symlink(c.to, folder / c.link, error);
    }
    if (error) {
        GTEST_SKIP() << "no links for this user: " << error.message();
    }
    WordListSource list;
    list.path = c.list;
    std::ostringstream console;
    std::ostringstream errors;
    EXPECT_EQ(run_builder({console, errors}, folder.path(), dicttools::ManualStop{}, list), ExitStatus::write_failed);
    if (c.to == std::string("dic.txt")) {  // refused before the list is read
        std::string banner = kBanner;
        banner.replace(banner.find("dic.txt"), 7, c.list);
        EXPECT_EQ(console.str(), banner + "ERROR: " + c.error + "\n");
        EXPECT_EQ(errors.str(), "");
    }
    EXPECT_NE(console.str().find(std::string("ERROR: ") + c.error + "\n"), std::string::npos) << console.str();
    EXPECT_EQ(folder.read("dic.txt"), "dog\ncat\n");
    EXPECT_EQ(folder.read(c.link), c.to == std::string("dic.txt") ? "dog\ncat\n" : "old image");
    EXPECT_EQ(folder.entry_count(), 3U) << "no temporary file is left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Links, BuilderLinkedOutput,
    testing::Values(LinkedOutputCase{"LinearToProm", "dic.uns", "dic.bin",
                                     "Could not write dic.uns: it is the same "
                                     "file as dic.bin"},
                    LinkedOutputCase{"PromToLinear", "dic.bin", "dic.uns",
                                     "Could not write dic.uns: it is the same "
                                     "file as dic.bin"},
                    LinkedOutputCase{"PromToWordList", "dic.bin", "dic.txt",
                                     "Could not write dic.bin: it is the word list dic.txt"},
                    LinkedOutputCase{"LinearToWordList", "dic.uns", "dic.txt",
                                     "Could not write dic.uns: it is the word list dic.txt"},
                    LinkedOutputCase{"PromHardLinkOfWordList", "dic.bin", "dic.txt",
                                     "Could not write dic.bin: it is the word list dic.txt", "dic.txt", true},
                    // The list named as an image file: dictbuild dic.uns.
                    LinkedOutputCase{"WordListNamedAsLinearImage", "dic.uns", "dic.txt",
                                     "Could not write dic.uns: it is the word list dic.uns", "dic.uns", true}),
    testing_support::CaseName{});

TEST(Builder, StopBeforeTheReplacementKeepsTheEarlierPair) {
    const TempFolder folder;
    folder.write("dic.txt", "dog\ncat\n");
    folder.write("dic.bin", "old");
    folder.write("dic.uns", "old");
    dicttools::ManualStop stop;
    stop.request(2);
    std::ostringstream console;
    EXPECT_EQ(run_builder({console, console}, folder.path(), stop), ExitStatus::interrupted);
    EXPECT_EQ(folder.read("dic.bin"), "old");
    EXPECT_EQ(folder.read("dic.uns"), "old");
    EXPECT_EQ(folder.entry_count(), 3U) << "no temporary file is left behind";
}

TEST(Builder, ReplacesEarlierImages) {
    const TempFolder folder;
    folder.write("dic.txt", "dog\ncat\n");
    folder.write("dic.bin", "old");
    folder.write("dic.uns", "old");
    EXPECT_EQ(build_in(folder).status, ExitStatus::done);
    EXPECT_EQ(folder.read("dic.bin").size(), kImageSize);
    EXPECT_EQ(folder.read("dic.uns").substr(0x78, 7), std::string("catdog\0", 7));
    EXPECT_EQ(folder.entry_count(), 3U);
}

TEST(Builder, TruncationWarningOnlyWhenInputIsLeft) {
    struct Case {
        std::size_t lines;
        bool warned;
    };
    for (const Case c : {Case{kMaxEntries, false}, Case{kMaxEntries + 1, true}}) {
        const TempFolder folder;
        std::string lines;
        for (std::size_t i = 0; i < c.lines; ++i) {
            lines += std::to_string(i) + "\n";
        }
        folder.write("dic.txt", lines);
        const BuildRun run = build_in(folder);
        const bool warned = run.console.find(
                                "WARNING: There are too many lines in dic.txt - truncated.\n"
                                "Read 200000 lines from the input file\n") != std::string::npos;
        EXPECT_EQ(warned, c.warned) << c.lines << " lines";
        EXPECT_NE(run.console.find("Read 200000 lines from the input file\n"), std::string::npos);
    }
}

/// FNV-1a, 64 bits: a fingerprint of a whole file.
std::uint64_t fingerprint(const std::string& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325;
    for (const char byte : bytes) {
        hash = (hash ^ static_cast<unsigned char>(byte)) * 0x100000001b3;
    }
    return hash;
}

TEST(Builder, BundledListGivesTheSameImagesOnEveryPlatform) {
    std::ifstream list(EXAMPLE_WORD_LIST, std::ios::binary);
    ASSERT_TRUE(list) << EXAMPLE_WORD_LIST;
    const TempFolder folder;
    folder.write("dic.txt", std::string(std::istreambuf_iterator<char>(list), std::istreambuf_iterator<char>()));
    EXPECT_EQ(build_in(folder).status, ExitStatus::done);
    EXPECT_EQ(fingerprint(folder.read("dic.uns")), 0xb219ae0bc1795ec5U);
    EXPECT_EQ(fingerprint(folder.read("dic.bin")), 0x93adf8a9d95f887fU);
}

}  // namespace
}  // namespace dictbuild
