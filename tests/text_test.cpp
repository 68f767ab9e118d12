// The case-insensitive comparisons that extension checks and the resident
// sweep's name prefixes rely on: ASCII letters only, whole strings or a
// whole prefix.
#include <gtest/gtest.h>

#include "platform/text.h"

TEST(Text, EqualsIgnoringCaseFoldsAsciiLettersOnly) {
    EXPECT_TRUE(EqualsIgnoringCase("", ""));
    EXPECT_TRUE(EqualsIgnoringCase("exe", "EXE"));
    EXPECT_TRUE(EqualsIgnoringCase("Ocx", "oCX"));
    EXPECT_FALSE(EqualsIgnoringCase("exe", "ex"));   // one short
    EXPECT_FALSE(EqualsIgnoringCase("ex", "exe"));
    EXPECT_FALSE(EqualsIgnoringCase("exe", "exe "));
    EXPECT_FALSE(EqualsIgnoringCase("[", "{"));  // 0x5B and 0x7B differ by the case bit but are no letters
    EXPECT_FALSE(EqualsIgnoringCase("@", "`"));
    EXPECT_FALSE(EqualsIgnoringCase("\xC9", "\xE9"));  // letters beyond ASCII are compared as they are
}

TEST(Text, StartsWithIgnoringCaseNeedsTheWholePrefix) {
    EXPECT_TRUE(StartsWithIgnoringCase("wink", "wink"));     // exactly the prefix
    EXPECT_FALSE(StartsWithIgnoringCase("win", "wink"));     // one short
    EXPECT_TRUE(StartsWithIgnoringCase("WINK123.EXE", "wink"));
    EXPECT_TRUE(StartsWithIgnoringCase("Krn132a", "KRN132"));
    EXPECT_FALSE(StartsWithIgnoringCase("xwink", "wink"));
    EXPECT_FALSE(StartsWithIgnoringCase("", "wqk"));
    EXPECT_TRUE(StartsWithIgnoringCase("anything", ""));
    EXPECT_FALSE(StartsWithIgnoringCase("wq{", "wq["));
}
