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

struct ReaderCase {
    const char* name;
    std::string source;
    std::vector<std::string> entries;
};

const std::string k29(29, 'w');
const std::string k30(30, 'w');

class ReaderTest : public testing::TestWithParam<ReaderCase> {};

TEST_P(ReaderTest, GivesTheExpectedEntries) { EXPECT_EQ(entries_of(GetParam().source), GetParam().entries); }

INSTANTIATE_TEST_SUITE_P(
    Lines, ReaderTest,
    testing::Values(ReaderCase{"WorkedExample", "dog\ncat\nOx\ncat\nant\n", {"dog", "cat", "Ox", "cat", "ant"}},
                    ReaderCase{"EmptyFile", "", {}}, ReaderCase{"BlankLineIsAnEmptyEntry", "a\n\nb\n", {"a", "", "b"}},
                    ReaderCase{"BlankLinesInARowKeepOne", "\n\n\na\n", {"", "a"}},
                    ReaderCase{"ConsecutiveDuplicatesKeepOne", "cat\ncat\ncat\n", {"cat"}},
                    ReaderCase{"DuplicatesApartAreKept", "cat\ndog\ncat\n", {"cat", "dog", "cat"}},
                    ReaderCase{"ComparisonIsCaseSensitive", "Cat\ncat\n", {"Cat", "cat"}},
                    ReaderCase{"CrLfIsOneLineEnd", "cat\r\ndog\r\n", {"cat", "dog"}},
                    ReaderCase{"CrCrLfKeepsOneCr", "cat\r\r\n", {"cat\r"}},
                    ReaderCase{"LoneCrIsAnOrdinaryByte", "a\rb\nc\r", {"a\rb", "c\r"}},
                    ReaderCase{"CtrlZEndsTheFile", "cat\ndo\x1ag\nrest\n", {"cat", "do"}},
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
                    ReaderCase{"DuplicateAfterNulCut", "ab\0x\nab\n"s, {"ab"}}),
    testing_support::CaseName());

std::string numbered_lines(std::size_t count) {
    std::string source;
    for (std::size_t i = 0; i < count; ++i) {
        source += "w" + std::to_string(i) + "\n";
    }
    return source;
}

TEST(ReaderLimit, ExactlyFullTableIsNotTruncated) {
    const std::string source = numbered_lines(kMaxEntries);
    const WordList list = read_word_list(source);
    EXPECT_EQ(list.entries.size(), kMaxEntries);
    EXPECT_FALSE(list.truncated);
}

TEST(ReaderLimit, OneLineMoreIsTruncatedAndKeepsTheFirstEntries) {
    const std::string source = numbered_lines(kMaxEntries + 1);
    const WordList list = read_word_list(source);
    ASSERT_EQ(list.entries.size(), kMaxEntries);
    EXPECT_TRUE(list.truncated);
    EXPECT_EQ(list.entries[0], "w0");
    EXPECT_EQ(list.entries.back(), "w" + std::to_string(kMaxEntries - 1));
}

TEST(ReaderLimit, LinesThatWouldBeDroppedAnywayAreNotATruncation) {
    std::string source = numbered_lines(kMaxEntries - 1);
    source += "last\nlast\n" + k30 + "\n";
    const WordList list = read_word_list(source);
    EXPECT_EQ(list.entries.size(), kMaxEntries);
    EXPECT_FALSE(list.truncated);
}

}  // namespace
}  // namespace dictbuild
