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

std::vector<std::string> cleaned(std::vector<std::string> words) {
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
                    CleanUpCase{"SingleCrIsKept", {"\r"}, {"\r"}}),
    testing_support::CaseName());

}  // namespace
}  // namespace dictbuild
