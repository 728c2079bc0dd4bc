// dictinfo runs on image files, and round trips through dictbuild.
#include "dictinfo.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <tuple>
#include <vector>

#include "builder.hpp"
#include "image_layout.hpp"
#include "image_packer.hpp"
#include "prom_image.hpp"
#include "replacement_record.hpp"
#include "shell_words.hpp"
#include "support/argument_cases.hpp"
#include "support/case_name.hpp"
#include "support/entry_tables.hpp"
#include "support/temp_folder.hpp"

namespace dictinfo {
namespace {

using testing_support::kSeparator;
using testing_support::TempFolder;

struct InfoRun {
    ExitStatus status;
    std::string out;
    std::string err;
};

InfoRun info(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    const ExitStatus status = run_dictinfo(args, out, err);
    return {status, out.str(), err.str()};
}

/// Builds dic.bin and dic.uns in `folder` from `word_list`.
void build(const TempFolder& folder, const std::string& word_list) {
    folder.write("dic.txt", word_list);
    std::ostringstream console;
    ASSERT_EQ(dictbuild::run_builder({console, console}, folder.path(), dicttools::ManualStop{}),
              dictbuild::ExitStatus::done)
        << console.str();
}

std::string file(const TempFolder& folder, const char* name) { return (folder / name).string(); }

TEST(Dictinfo, TellsLinearAndPromImagesApartAndReadsThemAlike) {
    const TempFolder folder;
    build(folder, "dog\ncat\nOx\ncat\nant\n");
    const InfoRun linear = info({file(folder, "dic.uns")});
    const InfoRun prom = info({file(folder, "dic.bin")});
    EXPECT_EQ(linear.status, ExitStatus::sound);
    EXPECT_EQ(prom.status, ExitStatus::sound);
    EXPECT_NE(linear.out.find("dic.uns: a linear image, 524288 bytes\n"), std::string::npos) << linear.out;
    EXPECT_NE(prom.out.find("dic.bin: a PROM image (address-scrambled), 524288 bytes\n"), std::string::npos);
    EXPECT_NE(linear.out.find("     3  0x0007B        3        10\n"), std::string::npos) << linear.out;
    EXPECT_NE(
        linear.out.find("final address 00000085 (as dictbuild prints it): 133 of 524288 bytes used, 524155 to spare\n"),
        std::string::npos);
    EXPECT_TRUE(linear.out.ends_with("the layout is sound\n"));
    EXPECT_EQ(linear.out.substr(linear.out.find('\n')), prom.out.substr(prom.out.find('\n')));

    EXPECT_EQ(info({"--words", file(folder, "dic.bin")}).out, "Ox\nant\ncat\ndog\n");
    EXPECT_EQ(info({"--diff", file(folder, "dic.uns"), file(folder, "dic.bin")}).status, ExitStatus::sound);
}

TEST(Dictinfo, ImageBesideTheRecordOfAReplacementInTheMiddleSaysSo) {
    const TempFolder folder;
    build(folder, "dog\ncat\n");
    const std::string record = ".dic.bin.replacing-4711-0-0000abcd";
    const std::filesystem::path full = std::filesystem::canonical(folder.path());
    folder.write(record, dicttools::encode_record({full,
                                                   {{"dic.bin", ".dic.bin.tmp-4711-0-00000001", ""},
                                                    {"dic.uns", ".dic.uns.tmp-4711-0-00000002", ""}}}));
    for (const char* name : {"dic.bin", "dic.uns"}) {
        const InfoRun run = info({file(folder, name)});
        EXPECT_EQ(run.status, ExitStatus::sound);
        EXPECT_EQ(run.err, "dictinfo: " + file(folder, name) + " is one of a pair in the middle of a replacement (" +
                               record +
                               " beside it): one file may be new and the other earlier until dictbuild runs "
                               "there again\n");
    }
}

TEST(Dictinfo, ForcedReadingOfTheWrongKindFindsProblems) {
    const TempFolder folder;
    build(folder, "dog\ncat\nOx\nant\n");
    const InfoRun run = info({"--linear", file(folder, "dic.bin")});
    EXPECT_EQ(run.status, ExitStatus::problem);
    EXPECT_NE(run.out.find("a linear image (as asked)"), std::string::npos);
    EXPECT_NE(run.out.find("problem at "), std::string::npos);
}

TEST(Dictinfo, ShortReadBackIsSaidToBeShort) {
    const TempFolder folder;
    build(folder, "dog\ncat\nOx\nant\nzebra\n");
    folder.write("dic.sav", folder.read("dic.uns").substr(0, 0x80));
    // Half a PROM image holds 0x00 to 0x7F whole; its other bytes are scattered, and not checked.
    folder.write("half.bin", folder.read("dic.bin").substr(0, 0x40000));
    for (const auto& [reading, name, size] :
         {std::tuple{"--linear", "dic.sav", "128"}, std::tuple{"--prom", "half.bin", "262144"}}) {
        const InfoRun run = info({reading, file(folder, name)});
        EXPECT_EQ(run.status, ExitStatus::problem);
        EXPECT_NE(run.out.find(std::string("the file is short: ") + size + " of 524288 bytes"), std::string::npos)
            << run.out;
        EXPECT_NE(run.out.find("beyond the end of the file"), std::string::npos);
        EXPECT_EQ(run.out.find("problem at"), std::string::npos) << run.out;
        EXPECT_EQ(info({"--words", reading, file(folder, name)}).out, "Ox\nant\n");
    }
    // A PROM file that holds not even the whole index: nothing is said of what it lacks.
    folder.write("tiny.bin", folder.read("dic.bin").substr(0, 100));
    const InfoRun tiny = info({"--prom", file(folder, "tiny.bin")});
    EXPECT_EQ(tiny.status, ExitStatus::problem);
    EXPECT_NE(tiny.out.find("\n     3        ?        ?         ?\n"), std::string::npos) << tiny.out;
    EXPECT_NE(tiny.out.find("the layout cannot be checked"), std::string::npos) << tiny.out;
}

TEST(Dictinfo, DiffNamesTheWordsOnEitherSide) {
    const TempFolder a;
    const TempFolder b;
    build(a, "dog\ncat\nOx\n");
    build(b, "cat\nOx\nemu\n");
    const InfoRun run = info({"--diff", file(a, "dic.uns"), file(b, "dic.bin")});
    EXPECT_EQ(run.status, ExitStatus::problem);
    EXPECT_EQ(run.out, "only in " + file(a, "dic.uns") + ": dog\nonly in " + file(b, "dic.bin") + ": emu\n");
}

class DictinfoArguments : public testing::TestWithParam<testing_support::ArgumentCase> {};

TEST_P(DictinfoArguments, RefusedOnesReadNothing) {
    const testing_support::ArgumentCase& c = GetParam();
    const InfoRun run = info(c.args);
    if (c.runs) {  // and finds no such file
        EXPECT_EQ(run.status, ExitStatus::cannot_read);
        EXPECT_TRUE(run.err.starts_with("dictinfo: cannot read ")) << run.err;
        return;
    }
    testing_support::expect_ended_at_once(static_cast<int>(run.status), run.out, run.err, c);
}

INSTANTIATE_TEST_SUITE_P(CommandLines, DictinfoArguments,
                         testing::ValuesIn(testing_support::argument_cases("dictinfo")), testing_support::CaseName{});

TEST(Dictinfo, UnreadableFiles) {
    const TempFolder folder;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--word-list", file(folder, "missing")}, {file(folder, "missing")}, {folder.path().string()}}) {
        const InfoRun run = info(args);
        EXPECT_EQ(run.status, ExitStatus::cannot_read) << testing::PrintToString(args);
        EXPECT_TRUE(run.out.empty());
        EXPECT_TRUE(run.err.starts_with("dictinfo: cannot read ")) << run.err;
    }
    EXPECT_EQ(info({file(folder, "missing")}).err,
              "dictinfo: cannot read " + file(folder, "missing") + ": No such file or directory\n");
    // A name can neither forge a line nor send control bytes to the terminal.
    EXPECT_NE(info({file(folder, "x\n\x1b]0;t\x07")}).err.find(R"(x\x0A\x1B]0;t\x07: )"), std::string::npos);
}

/// Writes the image that dictbuild's packer makes of `entries`, as they
/// stand, to `name` in `folder`.
std::string packed_file(const TempFolder& folder, const char* name, const std::vector<std::string>& entries) {
    const dictbuild::PackedImage packed = dictbuild::pack_image(testing_support::table_of(entries));
    folder.write(name, std::string(packed.bytes.begin(), packed.bytes.end()));
    return file(folder, name);
}

TEST(Dictinfo, WordsThatWouldNotRebuildTheImageSaySoAndExitOne) {
    struct Case {
        std::vector<std::string> entries;
        const char* why;  // on standard error, or empty for none
    };
    const TempFolder folder;
    // (dictbuild keeps a CR that stands first in a word of two.)
    for (const Case& c : {Case{{"\rx", "Cat", "cat"}, ""},
                          Case{{"a\032b", "a\033b"}, R"(problem at 0x00079: the word "a\x1Ab" at 0x00078 holds)"},
                          Case{{"cat", "Cat"}, R"(note at 0x0007B: "cat" and "Cat" differ only in case)"},
                          Case{{"Cat", "cat", "Cat"},
                               R"(problem at 0x0007E: the word "Cat" at 0x0007E is the same as the one at 0x00078)"}}) {
        const std::string image = packed_file(folder, "dic.uns", c.entries);
        const InfoRun run = info({"--words", image});
        std::string words;
        for (const std::string& entry : c.entries) {
            words += entry + '\n';
        }
        EXPECT_EQ(run.out, words);  // the raw bytes, whatever they are
        EXPECT_EQ(run.status, *c.why != '\0' ? ExitStatus::problem : ExitStatus::sound) << c.why;
        EXPECT_NE(run.err.find(c.why), std::string::npos) << run.err;
        if (*c.why != '\0') {
            EXPECT_TRUE(run.err.ends_with("dictbuild would not build this image again from these words\n")) << run.err;
        }
    }
    // A backslash in a word is shown so that it is not taken for an escape.
    const std::string other = packed_file(folder, "other.uns", {"a\nb", "a\\x0Ab"});
    EXPECT_EQ(info({"--diff", file(folder, "dic.uns"), other}).out,
              "only in " + file(folder, "dic.uns") + ": Cat\nonly in " + file(folder, "dic.uns") + ": cat\nonly in " +
                  other + ": a\\x0Ab\nonly in " + other + ": a\\\\x0Ab\n");
}

// Neither reading sound: the one whose index dictbuild could have written,
// not the one with fewer problems because its index points at nothing.
TEST(Dictinfo, DamagedImageIsReadTheWayItsIndexSays) {
    const TempFolder folder;
    packed_file(folder, "dic.uns", {"ab\nc", "abd\x1A", "abe\r", "abff", "abff", "a\rcd"});
    const std::string bytes = folder.read("dic.uns");
    const std::vector<std::uint8_t> prom =
        dicttools::make_prom_image(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    folder.write("dic.bin", std::string(prom.begin(), prom.end()));
    for (const auto& [name, heading] :
         {std::pair{"dic.uns", ": a linear image (neither reading is sound)"},
          std::pair{"dic.bin", ": a PROM image (address-scrambled; neither reading is sound)"}}) {
        const InfoRun run = info({file(folder, name)});
        EXPECT_NE(run.out.find(heading), std::string::npos) << run.out;
        EXPECT_TRUE(run.out.ends_with("\n5 layout problems\n")) << run.out;
        EXPECT_EQ(info({"--words", file(folder, name)}).out, "ab\nc\nabd\x1A\nabe\r\nabff\nabff\na\rcd\n");
    }
}

// A slot beyond the image: said to be beyond it, never turned into bytes to
// spare, and the table keeps its columns.
TEST(Dictinfo, SlotBeyondTheImage) {
    std::vector<std::uint8_t> image(dicttools::kImageSize, 0);
    dicttools::write_slot(image, 2, dicttools::kFirstGroupAddress);
    dicttools::write_slot(image, 3, 0x4CE5F5);
    image[0x78] = 'O';
    image[0x79] = 'x';
    const TempFolder folder;
    folder.write("dic.uns", std::string(image.begin(), image.end()));
    const InfoRun run = info({"--linear", file(folder, "dic.uns")});
    for (const char* line : {"length  address     words     bytes\n     2  0x000078        1         3\n"
                             "     3  0x4CE5F5        0         0\n     4         -        0         0\n",
                             "total                   1         3\n"
                             "final address 004CE5F5: beyond the end of the image, by 4515317 bytes\n"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
    }
}

/// A stream buffer that takes no byte, as a full disk or a closed pipe,
/// leaving `error` in errno.
class FailingBuffer : public std::streambuf {
public:
    explicit FailingBuffer(int error) : error_(error) {}

protected:
    int_type overflow(int_type) override {
        errno = error_;
        return traits_type::eof();
    }

private:
    int error_;
};

TEST(Dictinfo, OutputThatCannotBeWrittenIsAnErrorInEveryMode) {
    const TempFolder folder;
    const std::string a = packed_file(folder, "a.uns", {"Ox", "cat"});
    const std::string b = packed_file(folder, "b.uns", {"Ox", "dog"});
    folder.write("dic.txt", "cat\n");
    // A reader gone from a pipe (as `| head`) needs no telling; the status says it.
    for (const auto& [error, said] : {std::pair{0, "dictinfo: cannot write the output\n"}, std::pair{EPIPE, ""}}) {
        for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
                 {"--help"}, {a}, {"--words", a}, {"--diff", a, b}, {"--word-list", file(folder, "dic.txt")}}) {
            FailingBuffer buffer(error);
            std::ostream out(&buffer);
            std::ostringstream err;
            EXPECT_EQ(run_dictinfo(args, out, err),
                      args[0] == "--help" ? ExitStatus::help_not_written : ExitStatus::cannot_read)
                << args[0];
            EXPECT_EQ(err.str(), said) << args[0];
        }
    }
}

/// The part of dictinfo's output from the table's heading to its totals.
std::string table_in(const std::string& out) {
    const std::size_t start = out.find("length  address");
    const std::size_t total = out.find("total ", start);
    return start == std::string::npos || total == std::string::npos ? ""
                                                                    : out.substr(start, out.find('\n', total) - start);
}

std::string line_with(const std::string& text, const std::string& start) {
    const std::size_t at = text.find(start);
    return at == std::string::npos ? "" : text.substr(at, text.find('\n', at) - at);
}

/// A word list of `count` distinct 8-letter words, in order.
std::string eight_letter_words(std::size_t count) {
    std::string list;
    for (std::size_t n = 0; n < count; ++n) {
        std::string word = "aaaaaaaa";
        for (std::size_t i = 8, rest = n; i-- > 0 && rest > 0; rest /= 26) {
            word[i] = static_cast<char>('a' + rest % 26);
        }
        list += word + '\n';
    }
    return list;
}

// dictbuild builds each list; --word-list must have told the same final
// address and table beforehand, and what became of the lines.
TEST(Dictinfo, WordListTellsWhatDictbuildWillMake) {
    using namespace std::string_literals;
    struct Case {
        const char* name;
        std::string list;
        ExitStatus status;
        std::vector<std::string> said;  // lines of the report
    };
    const std::vector<Case> cases = {
        {"WorkedExample",
         "dog\ncat\nOx\ncat\nant\n",
         ExitStatus::sound,
         {": 5 lines read, 5 entries kept",
          "duplicates removed: 1 (0 repeating the line before, 1 found after sorting)",
          "it fits, with 524155 bytes to spare"}},
        {"OddLines",
         "\xEF\xBB\xBF"
         "cat\ncat\ncat\n\na\nthis-line-is-thirty-characters\ncaf\xC3\xA9\nx\r\nemu\r\r\nab\0cd\n"s,
         ExitStatus::sound,
         {": 10 lines read, 8 entries kept", "lines over 29 characters, skipped: 1 (line 6)",
          "lines cut short at a 0x00 byte: 1 (line 10)", "blank lines: 1, one-character lines: 2 (never packed)",
          "duplicates removed: 1 (1 repeating the line before, 0 found after sorting)",
          "words with bytes outside printable ASCII: 2\n", R"(  line 1: "\xEF\xBB\xBFcat")",
          R"(  line 7: "caf\xC3\xA9")", "dic.txt starts with a UTF-8 byte order mark"}},
        {"TooLarge",
         eight_letter_words(70000) + "twelve-chars\n",
         ExitStatus::problem,
         {"too large by 35846 bytes: the list needs 560134 of 524288",
          "the group of length 8 is cut: 65521 of its 70000 words fit", "length 12 lost: 1 word"}},
        {"TableFilled",
         eight_letter_words(200001),
         ExitStatus::problem,
         {"the entry table is full: dictbuild reads nothing from line 200001 on",
          kSeparator + "dic.txt - truncated.\")"}},  // the list named as dictbuild names it
    };
    for (const Case& c : cases) {
        const TempFolder folder;
        folder.write("dic.txt", c.list);
        const InfoRun run = info({"--word-list", file(folder, "dic.txt")});
        EXPECT_EQ(run.status, c.status) << c.name;
        for (const std::string& said : c.said) {
            EXPECT_NE(run.out.find(said), std::string::npos) << c.name << ": " << said << '\n' << run.out;
        }
        std::ostringstream console;
        dictbuild::run_builder({console, console}, folder.path(), dicttools::ManualStop{});
        EXPECT_EQ(line_with(run.out, "Final address used is "), line_with(console.str(), "Final address used is "))
            << c.name;
        const std::string table = table_in(run.out);
        EXPECT_FALSE(table.empty()) << c.name;
        EXPECT_EQ(table, table_in(info({file(folder, "dic.uns")}).out)) << c.name;
        EXPECT_NE(info({file(folder, "dic.txt")}).out.find(" looks like a text word list, not an image: "),
                  std::string::npos)
            << c.name;
    }
    const TempFolder folder;  // the hint's command, as the shell takes it back
    folder.write("my list.txt", "dog\ncat\n");
    EXPECT_NE(info({file(folder, "my list.txt")})
                  .out.find("dictinfo --word-list " +
                            dicttools::shell_operand(file(folder, "my list.txt"), dicttools::platform_shell()) +
                            " reads it as dictbuild would\n"),
              std::string::npos);
}

/// A word list of `count` distinct pseudo-words of 2 to 29 letters, some
/// differing only in case, in random order.
std::string generated_list(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::string list;
    for (std::size_t i = 0; i < count; ++i) {
        std::string word(2 + random() % 28, 'a');
        for (char& c : word) {
            c = static_cast<char>((random() % 4 == 0 ? 'A' : 'a') + random() % 6);
        }
        list += word + '\n';
    }
    return list;
}

TEST(Dictinfo, WordsBackThroughDictbuildGiveTheSameImage) {
    for (const unsigned seed : {1U, 2U, 3U}) {
        const TempFolder first;
        build(first, generated_list(3000, seed));
        const InfoRun words = info({"--words", file(first, "dic.bin")});
        ASSERT_EQ(words.status, ExitStatus::sound) << words.err;

        const TempFolder second;
        build(second, words.out);
        EXPECT_TRUE(second.read("dic.uns") == first.read("dic.uns")) << "seed " << seed;
        EXPECT_TRUE(second.read("dic.bin") == first.read("dic.bin")) << "seed " << seed;
    }
}

}  // namespace
}  // namespace dictinfo
