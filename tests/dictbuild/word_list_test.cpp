#include "word_list.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/case_name.hpp"
#include "support/entry_tables.hpp"

namespace dictbuild {
namespace {

using namespace std::string_literals;

std::vector<std::string> entries_of(const std::string& source) {
    return testing_support::strings_of(read_word_list(source).entries);
}

/// Every line as "number fate stored-entry length".
class LineLog : public LineObserver {
public:
    void line(const Line& line) override {
        static const char* const kFates[] = {"kept", "too_long", "duplicate", "beyond_table", "no_word_past_table"};
        lines.push_back(std::to_string(line.number) + " " + kFates[static_cast<int>(line.fate)] + " " +
                        std::string(line.stored()) + " " + std::to_string(line.length));
    }
    std::vector<std::string> lines;
};

/// All that the reader makes of a list.
struct Reading {
    std::vector<std::string> entries;
    bool truncated = false;
    InputSigns signs;
    std::vector<std::string> lines;

    bool operator==(const Reading&) const = default;
};

/// Reads `source` handed over in pieces that end at each of `cuts` (ascending).
Reading read_in_pieces(std::string_view source, const std::vector<std::size_t>& cuts = {}) {
    LineLog log;
    WordListReader reader(&log);
    std::size_t from = 0;
    for (const std::size_t cut : cuts) {
        reader.read(source.substr(from, cut - from));
        from = cut;
    }
    reader.read(source.substr(from));
    WordList list = reader.finish();
    return {testing_support::strings_of(list.entries), list.truncated, list.signs, log.lines};
}

struct ReaderCase {
    const char* name;
    std::string source;
    std::vector<std::string> entries;
};

const std::string k29(29, 'w');
const std::string k30(30, 'w');

class ReaderTest : public testing::TestWithParam<ReaderCase> {};

TEST_P(ReaderTest, GivesTheExpectedEntries) { EXPECT_EQ(entries_of(GetParam().source), GetParam().entries); }

TEST_P(ReaderTest, InputCutAnywhereGivesTheSame) {
    const std::string& source = GetParam().source;
    const Reading whole = read_in_pieces(source);
    std::vector<std::size_t> every_byte;
    for (std::size_t cut = 0; cut <= source.size(); ++cut) {
        EXPECT_EQ(read_in_pieces(source, {cut}), whole) << "cut at " << cut;
        every_byte.push_back(cut);
    }
    EXPECT_EQ(read_in_pieces(source, every_byte), whole) << "a byte at a time";
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReaderTest,
    testing::Values(ReaderCase{"WorkedExample", "dog\ncat\nOx\ncat\nant\n", {"dog", "cat", "Ox", "cat", "ant"}},
                    ReaderCase{"EmptyFile", "", {}}, ReaderCase{"BlankLineIsAnEmptyEntry", "a\n\nb\n", {"a", "", "b"}},
                    ReaderCase{"BlankLinesInARowKeepOne", "\n\n\na\n", {"", "a"}},
                    ReaderCase{"ConsecutiveDuplicatesKeepOne", "cat\ncat\ncat\n", {"cat"}},
                    ReaderCase{"DuplicatesApartAreKept", "cat\ndog\ncat\n", {"cat", "dog", "cat"}},
                    // Neighbours of each size the comparison takes in other steps.
                    ReaderCase{"DifferingInTheMiddle",
                               "aXc\nabc\nabc\nabXde\nabcde\nabcdefXhi\nabcdefghi\n"
                               "abcdefghXjklmnopq\nabcdefghijklmnopq\n",
                               {"aXc", "abc", "abXde", "abcde", "abcdefXhi", "abcdefghi", "abcdefghXjklmnopq",
                                "abcdefghijklmnopq"}},
                    ReaderCase{"ComparisonIsCaseSensitive", "Cat\ncat\n", {"Cat", "cat"}},
                    ReaderCase{"CrLfIsOneLineEnd", "cat\r\ndog\r\n", {"cat", "dog"}},
                    ReaderCase{"CrCrLfKeepsOneCr", "cat\r\r\n", {"cat\r"}},
                    ReaderCase{"CrCrInsideALine", "ab\r\rx\ncat\n", {"ab\r\rx", "cat"}},
                    ReaderCase{"LoneCrIsAnOrdinaryByte", "a\rb\nc\r", {"a\rb", "c\r"}},
                    ReaderCase{"CtrlZEndsTheFile", "cat\ndo\x1ag\nrest\n", {"cat", "do"}},
                    ReaderCase{"CtrlZLast", "cat\n\x1a", {"cat"}},
                    ReaderCase{"CtrlZAtTheStartGivesNothing",
                               "\x1a"
                               "cat\n",
                               {}},
                    ReaderCase{"HighBytesAreKept", "\xe9t\xe9\n\xff\xfe\n", {"\xe9t\xe9", "\xff\xfe"}},
                    // A last line without a line end keeps every character.
                    ReaderCase{"LastLineWithoutLineEnd", "dog\ncat", {"dog", "cat"}},
                    ReaderCase{"OnlyLineWithoutLineEnd", "x", {"x"}},
                    // Lines of more than 29 characters are skipped whole, never split.
                    ReaderCase{"TwentyNineCharactersAreAWord", k29 + "\n", {k29}},
                    ReaderCase{"TwentyNineWithCrLf", k29 + "\r\n", {k29}},
                    ReaderCase{"ThirtyCharactersAreSkipped", "a\n" + k30 + "\nb\n", {"a", "b"}},
                    ReaderCase{"FortyCharactersAreSkipped", std::string(40, 'x') + "\n", {}},
                    ReaderCase{"LongLastLineIsSkipped", "a\n" + k30, {"a"}},
                    ReaderCase{"TwentyNineAndAStrayCrIsTooLong", k29 + "\r\r\n", {}},
                    ReaderCase{"SkippedLineDoesNotSeparateDuplicates", "cat\n" + k30 + "\ncat\n", {"cat"}},
                    // An entry ends at its first 0x00; the length rule sees the whole line.
                    ReaderCase{"NulEndsTheEntry", "ab\0cd\n"s, {"ab"}},
                    ReaderCase{"NulFirstGivesEmptyEntry", "\0abc\nx\n"s, {"", "x"}},
                    ReaderCase{"NulDoesNotRescueALongLine", "ab\0"s + std::string(28, 'c') + "\nx\n", {"x"}},
                    ReaderCase{"DuplicateAfterNulCut", "ab\0x\nab\n"s, {"ab"}},
                    ReaderCase{"LoneCrsAreNoLineEnds", "cat\rdog\rant\r", {"cat\rdog\rant\r"}},
                    ReaderCase{"LongLineOfCrsIsSkipped", "a\n" + std::string(40, '\r') + "\r\nb\r\n", {"a", "b"}},
                    ReaderCase{
                        "LongLinesInARow", std::string(70, 'x') + "\n" + k30 + "\r\n" + k29 + "\r\n" + k29, {k29}}),
    testing_support::CaseName());

TEST(ReaderObserver, IsToldWhatBecameOfEachLine) {
    const std::string source = "cat\ncat\r\n"s + k30 + "\r\n\nab\0cd\nab\r\rx\n"s + std::string(100, 'x');
    EXPECT_EQ(read_in_pieces(source).lines,
              (std::vector<std::string>{"1 kept cat 3", "2 duplicate cat 3", "3 too_long " + k30 + " 30", "4 kept  0",
                                        "5 kept ab 5", "6 kept ab 5", "7 too_long " + std::string(30, 'x') + " 100"}));
}

TEST(ReaderSigns, CountLinesAndLineEnds) {
    const InputSigns signs = read_word_list("a\rb\r\n\nc\r\rd\r").signs;
    EXPECT_EQ(signs.start, "a\rb\r\n\nc\r\rd\r");
    EXPECT_EQ(signs.lines, 3U);
    EXPECT_EQ(signs.lines_with_text, 2U);
    EXPECT_EQ(signs.line_feeds, 2U);
    EXPECT_EQ(signs.lone_carriage_returns, 3U) << "a CR LF pair and a CR at the very end are not lone";
    EXPECT_EQ(read_word_list(std::string(1000, 'x')).signs.start, std::string(InputSigns::kStartSize, 'x'));
    EXPECT_EQ(read_word_list("cat\ndo\x1ag\n").signs.ctrl_z_line, 2U) << "bytes follow the 0x1A";
    EXPECT_EQ(read_word_list("cat\ndog\n\x1a").signs.ctrl_z_line, 0U) << "nothing follows it";
}

std::string numbered_lines(std::size_t count) {
    std::string source;
    for (std::size_t i = 0; i < count; ++i) {
        source += "w" + std::to_string(i) + "\n";
    }
    return source;
}

/// A list of `lines` distinct words and then `tail`.
struct LimitCase {
    const char* name;
    std::size_t lines;
    std::string tail;
    bool truncated;
};

class ReaderLimit : public testing::TestWithParam<LimitCase> {};

TEST_P(ReaderLimit, TruncatedOnlyWhenAWordIsLost) {
    const WordList list = read_word_list(numbered_lines(GetParam().lines) + GetParam().tail);
    EXPECT_EQ(list.entries.size(), kMaxEntries);
    EXPECT_EQ(list.truncated, GetParam().truncated);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ReaderLimit,
    testing::Values(LimitCase{"ExactlyFull", kMaxEntries, "", false},
                    LimitCase{"FullThenABlankLine", kMaxEntries, "\n", false},
                    LimitCase{"FullThenLinesGivingNoWord", kMaxEntries, "\n\nx\ny\r\r\n\0ab\n"s + k30 + "\n", false},
                    LimitCase{"FullThenAWordAfterABlankLine", kMaxEntries, "\n\nzz\n", true},
                    LimitCase{"DuplicateAndLongLineAfterTheLast", kMaxEntries - 1, "last\nlast\n" + k30 + "\n", false}),
    testing_support::CaseName());

TEST(ReaderLimitLog, OneLineMoreIsTruncatedAndKeepsTheFirstEntries) {
    const std::string source = numbered_lines(kMaxEntries + 1) + "never read\n";
    LineLog log;
    const WordList list = read_word_list(source, &log);
    ASSERT_EQ(list.entries.size(), kMaxEntries);
    EXPECT_TRUE(list.truncated);
    EXPECT_EQ(log.lines.back(), "200001 beyond_table w200000 7");
    EXPECT_EQ(list.entries[0], "w0");
    EXPECT_EQ(list.entries.back(), "w" + std::to_string(kMaxEntries - 1));
}

}  // namespace
}  // namespace dictbuild
