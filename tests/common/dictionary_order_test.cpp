#include "dictionary_order.hpp"

#include <gtest/gtest.h>

namespace dicttools {
namespace {

TEST(DictionaryOrder, ThreeWayComparison) {
    EXPECT_EQ(compare_case_insensitive("Cat", "cAT"), 0);
    EXPECT_LT(compare_case_insensitive("", "a"), 0);
    EXPECT_LT(compare_case_insensitive("ca", "Cat"), 0);
    EXPECT_GT(compare_case_insensitive("Zebra", "apple"), 0);
    EXPECT_GT(compare_case_insensitive("\x80", "z"), 0);
}

TEST(DictionaryOrder, TiesGoByBytes) {
    EXPECT_TRUE(dictionary_less("Cat", "cat"));
    EXPECT_FALSE(dictionary_less("cat", "Cat"));
    EXPECT_FALSE(dictionary_less("cat", "cat"));
    EXPECT_TRUE(dictionary_less("cat", "Cats"));
}

}  // namespace
}  // namespace dicttools
