#include "entry_sort.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "dictionary_order.hpp"
#include "support/case_name.hpp"
#include "support/entry_tables.hpp"

namespace dictbuild {
namespace {

using dicttools::dictionary_less;

std::vector<std::string> cleaned(const std::vector<std::string>& words) {
    EntryTable table = testing_support::table_of(words);
    sort_and_clean_up(table);
    return testing_support::strings_of(table);
}

TEST(DictionaryOrder, IsCaseInsensitiveByUnsignedBytes) {
    // Underscore and '[' lie between 'Z' and 'a' and so sort below every
    // letter; '~' and bytes above 0x7F sort above them and are never mapped.
    const std::vector<std::string> expected = {
        "", "1a", "[x", "_x", "a", "Ax", "ax", "b", "Zx", "zz", "~", "\xc9", "\xe9",
    };
    std::vector<std::string> shuffled = {"zz", "\xe9", "ax", "~", "b", "Zx", "", "_x", "\xc9", "a", "[x", "Ax", "1a"};
    EXPECT_EQ(cleaned(shuffled), expected);
}

TEST(DictionaryOrder, LongerEntriesSharingTheirStart) {
    EXPECT_EQ(
        cleaned({"interest", "intern", "INTERNAL", "Inter", "internal", "int", "in\xe9", "inte"}),
        (std::vector<std::string>{"int", "inte", "Inter", "interest", "intern", "INTERNAL", "internal", "in\xe9"}));
}

TEST(DictionaryOrder, LargeTableIsSortedWithEveryEntryKept) {
    // Few letters and short words make many shared starts and duplicates.
    std::mt19937 random(7);
    const std::string alphabet = "aAbB_\xe9";
    std::vector<std::string> words(20000);
    for (std::string& word : words) {
        word.resize(random() % 9);
        for (char& c : word) {
            c = alphabet[random() % alphabet.size()];
        }
    }
    const std::vector<std::string> result = cleaned(words);
    ASSERT_EQ(result.size(), words.size());

    std::vector<std::string> kept;
    std::copy_if(result.begin(), result.end(), std::back_inserter(kept),
                 [](const std::string& w) { return !w.empty(); });
    EXPECT_TRUE(std::adjacent_find(kept.begin(), kept.end(),
                                   [](const std::string& a, const std::string& b) { return !dictionary_less(a, b); }) ==
                kept.end())
        << "not strictly ascending";
    std::set<std::string> distinct_in(words.begin(), words.end());
    distinct_in.erase("");
    EXPECT_EQ(std::set<std::string>(kept.begin(), kept.end()), distinct_in);
    EXPECT_EQ(kept.size(), distinct_in.size());
}

/// Random words from a few bytes, after a start they all share: the sort
/// must give exactly what a comparison sort with dictionary_less gives.
struct SortCase {
    const char* name;
    std::size_t count;
    std::string alphabet;
    std::size_t max_length;  // after the shared start
    std::string start = "";
};

class SortTest : public testing::TestWithParam<SortCase> {};

TEST_P(SortTest, OrdersAsDictionaryLess) {
    const SortCase& c = GetParam();
    std::mt19937 random(11);
    std::vector<std::string> words(c.count, c.start);
    for (std::string& word : words) {
        for (std::size_t length = random() % (c.max_length + 1); length > 0; --length) {
            word += c.alphabet[random() % c.alphabet.size()];
        }
    }
    EntryTable table = testing_support::table_of(words);
    sort_entries(table);
    std::sort(words.begin(), words.end(),
              [](const std::string& a, const std::string& b) { return dictionary_less(a, b); });
    EXPECT_EQ(testing_support::strings_of(table), words);
}

// The counts reach each way of sorting a range: insertion sort below 16
// entries, a comparison of whole keys below 256, buckets of key bytes from
// there, buckets of text bytes beyond 4096, and two threads from 16384
// (all in one bucket for the long shared start).
INSTANTIATE_TEST_SUITE_P(
    Words, SortTest,
    testing::Values(SortCase{"None", 0, "a", 3}, SortCase{"One", 1, "a", 3}, SortCase{"FewCaseTies", 15, "aA", 3},
                    SortCase{"CaseTies", 5000, "aA", 6}, SortCase{"ShortAndEmpty", 3000, "xX_", 1},
                    SortCase{"PunctuationAroundLetters", 1000, "@aZ_[`{~09", 5},
                    SortCase{"HighBytes", 4000, "\x80\xc9\xe9\xffzZ", 5},
                    SortCase{"LongSharedStart", 40000, "sS\xe9", 7, "Donaudampfschifffahrts"},
                    SortCase{"KeysTieOnEightBytes", 3000, "aA\xe9", 12, "AbcDefgh"},
                    SortCase{"CrsAndLineFeeds", 2000, "a\r\nA", 6},
                    SortCase{"ManyLetters", 40000, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ", 8}),
    testing_support::CaseName());

/// Entries that tie on their first eight folded bytes: the order after them decides.
struct TieCase {
    const char* name;
    std::vector<std::string> sorted;
};

class TieTest : public testing::TestWithParam<TieCase> {};

TEST_P(TieTest, OrdersAsDictionaryLessFromAnyStart) {
    const std::vector<std::string>& sorted = GetParam().sorted;
    for (const bool reversed : {false, true}) {
        EntryTable table = testing_support::table_of(reversed ? std::vector<std::string>(sorted.rbegin(), sorted.rend())
                                                              : std::vector<std::string>(sorted.begin(), sorted.end()));
        sort_entries(table);
        EXPECT_EQ(testing_support::strings_of(table), sorted) << (reversed ? "from reversed" : "from sorted");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Entries, TieTest,
    testing::Values(
        TieCase{"ByCaseOnly", {"ABCDEFGHx", "AbcdefghX", "abcdefghX", "abcdefghx"}},
        TieCase{"ByCaseOnlyAtEightCharacters", {"ABCDEFGH", "ABCDEFGh", "abcdefgh"}},
        TieCase{"LetterAfterDecidesBeforeCase", {"abcdefgha", "ABCDEFGHb", "abcdefghB"}},
        TieCase{"ByteAboveAscii", {"ABCDEFGHZ", "abcdefghz", "abcdefgh\xc9", "abcdefgh\xe9", "abcdefgh\xe9\x61"}},
        TieCase{"ByLength",
                {"abcdefgh", "ABCDEFGHI", "abcdefghi", "abcdefghij", "abcdefghijklmnop", "abcdefghijklmnopq"}},
        TieCase{"OnSixteenBytes",
                {"ABCDEFGHIJKLMNOPa", "abcdefghijklmnopA", "abcdefghijklmnopa", "abcdefghijklmnop\xff"}}),
    testing_support::CaseName());

struct CleanUpCase {
    const char* name;
    std::vector<std::string> entries;
    std::vector<std::string> expected;
};

class CleanUpTest : public testing::TestWithParam<CleanUpCase> {};

TEST_P(CleanUpTest, GivesTheExpectedTable) { EXPECT_EQ(cleaned(GetParam().entries), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Entries, CleanUpTest,
    testing::Values(CleanUpCase{"WorkedExample", {"dog", "cat", "Ox", "cat", "ant"}, {"ant", "", "cat", "dog", "Ox"}},
                    CleanUpCase{"NothingToDo", {}, {}},
                    CleanUpCase{"DuplicatesApartBecomeOne", {"cat", "dog", "cat"}, {"", "cat", "dog"}},
                    CleanUpCase{"CaseVariantDoesNotHideADuplicate", {"cat", "Cat", "cat"}, {"Cat", "", "cat"}},
                    CleanUpCase{"CaseVariantsAreBothKept", {"cat", "Cat"}, {"Cat", "cat"}},
                    CleanUpCase{"TrimBeforeDuplicates", {"cat\r", "cat"}, {"", "cat"}},
                    CleanUpCase{"CrInEitherOfTheLastTwoPlacesGoes", {"word\r", "ab\rc", "ab\r\r"}, {"", "ab", "word"}},
                    CleanUpCase{"CrFurtherInIsKept", {"a\rbcd"}, {"a\rbcd"}},
                    CleanUpCase{"TwoCharactersLoseOnlyALastCr", {"x\r", "\rx"}, {"\rx", "x"}},
                    CleanUpCase{"SingleCrIsKept", {"\r"}, {"\r"}},
                    CleanUpCase{"TrimRepeatsUntilTheEndIsClean", {"ab\r\rx", "a\r\r\r\r"}, {"a", "ab"}}),
    testing_support::CaseName());

}  // namespace
}  // namespace dictbuild
