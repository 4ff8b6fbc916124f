#include "card/CardPath.h"
#include "tests/card/ScriptedCard.h"

#include <gtest/gtest.h>

#include <string>

using cardtest::Hex;
using scard::CoveredPrefix;
using scard::ParseHexPath;

namespace {

std::vector<uint8_t> Parsed(std::string_view text) {
    auto path = ParseHexPath(text);
    if (!path) {
        return {};
    }
    auto view = path->View();
    return {view.begin(), view.end()};
}

} // namespace

TEST(CardPath, SeparatorsAndCaseDoNotMatter) {
    const auto expected = Hex("3F00 DF01 C000");
    EXPECT_EQ(Parsed("3f00df01c000"), expected);
    EXPECT_EQ(Parsed("3f00/df01:c000"), expected);
    EXPECT_EQ(Parsed("/3F00 / DF01 : C000/"), expected);
    // A separator may even split a FID; the digits are read in pairs.
    EXPECT_EQ(Parsed("3f 00df:01c0/00"), expected);
}

TEST(CardPath, MalformedTextIsRefused) {
    EXPECT_FALSE(ParseHexPath(""));
    EXPECT_FALSE(ParseHexPath("/ : /"));
    EXPECT_FALSE(ParseHexPath("3f0"));      // lone trailing digit
    EXPECT_FALSE(ParseHexPath("3f00df"));   // half a FID
    EXPECT_FALSE(ParseHexPath("3f00dg01")); // not hex
    EXPECT_FALSE(ParseHexPath("3f00-df01"));
    EXPECT_FALSE(ParseHexPath(std::string("3f\0"
                                          "00",
                                          5)));

    std::string twenty;
    for (int i = 0; i < 20; ++i) {
        twenty += "3f00";
    }
    ASSERT_TRUE(ParseHexPath(twenty));
    EXPECT_EQ(ParseHexPath(twenty)->length, 40u);
    EXPECT_FALSE(ParseHexPath(twenty + "df01"));
}

TEST(CardPath, CoveredPrefixOfTheSelectedChain) {
    const auto mf = Hex("3F00");
    const auto df01 = Hex("3F00 DF01");
    // One FID more than selected, same start: only the last FID is left.
    EXPECT_EQ(CoveredPrefix(df01, Hex("3F00 DF01 C000")), 4u);
    EXPECT_EQ(CoveredPrefix(mf, Hex("3F00 2F02")), 2u);
    // One FID more, different start: the whole path.
    EXPECT_EQ(CoveredPrefix(Hex("3F00 DF02"), Hex("3F00 DF01 C000")), 0u);
    // Longer paths: matching FIDs before the last one, at most the selection.
    EXPECT_EQ(CoveredPrefix(mf, Hex("3F00 DF01 5049")), 2u);
    EXPECT_EQ(CoveredPrefix(Hex("3F00 DF01 DF02"), Hex("3F00 DF01 C000")), 4u);
    EXPECT_EQ(CoveredPrefix(Hex("3F00 DF02 DF03"), Hex("3F00 DF01 C000")), 2u);
    // The last FID is never dropped, even when it equals the selection.
    EXPECT_EQ(CoveredPrefix(df01, Hex("3F00")), 0u);
    EXPECT_EQ(CoveredPrefix(df01, Hex("3F00 DF01")), 2u);
    // Already deeper than asked: only the common FIDs before the last go.
    EXPECT_EQ(CoveredPrefix(df01, Hex("3F00 2F02")), 2u);
}
