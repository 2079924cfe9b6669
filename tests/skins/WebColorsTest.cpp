#include "skins/WebColors.h"
#include "platform/StrUtils.h"

#include <gtest/gtest.h>

using namespace pellora;

TEST(WebColors, TableIsSortedUpperCaseAndEveryEntryIsFound) {
    for (int i = 0; i < TWebColors::Count; ++i) {
        std::string_view name = TWebColors::Name(i);
        EXPECT_EQ(UpperCaseAscii(name), name);
        if (i > 0) {
            EXPECT_LT(TWebColors::Name(i - 1), name) << "order broken at " << name;
        }
        // Lookups go through the binary search, so a misplaced entry would be missed.
        TColor color = 0xFFFFFFFFu;
        ASSERT_TRUE(TWebColors::Find(LowerCaseAscii(name), color)) << name;
        EXPECT_EQ(color, TWebColors::Color(i)) << name;
        EXPECT_EQ(color & 0xFF000000u, 0u) << name;
    }
    EXPECT_EQ(TWebColors::Name(0), "ALICEBLUE");
    EXPECT_EQ(TWebColors::Name(TWebColors::Count - 1), "YELLOWGREEN");
}

TEST(WebColors, ValuesAreStoredBlueGreenRed) {
    struct {
        const char* Name;
        TColor Value;
    } const known[] = {
        {"AliceBlue", 0xFFF8F0},     {"brown", 0x2A2AA5},       {"LIGHTGREY", 0xD3D3D3},
        {"gray", 0x808080},          {"Red", 0x0000FF},         {"lime", 0x00FF00},
        {"navy", 0x800000},          {"Tomato", 0x4763FF},      {"MediumPurple", 0xDB7093},
        {"DarkSlateGray", 0x4F4F2F}, {"yellowgreen", 0x32CD9A}, {"black", 0x000000},
    };
    for (const auto& entry : known) {
        TColor color = 0;
        ASSERT_TRUE(TWebColors::Find(entry.Name, color)) << entry.Name;
        EXPECT_EQ(color, entry.Value) << entry.Name;
    }
}

TEST(WebColors, OnlyTheClassicSpellingsAreKnown) {
    TColor color = 0x123;
    for (const char* name : {"LIGHTGRAY", "GREY", "DARKGREY", "SLATEGREY", "REBECCAPURPLE", "",
                             "ALICEBLU", "ALICEBLUEE", "A", "ZZZ", "RED ", "transparent"})
        EXPECT_FALSE(TWebColors::Find(name, color)) << name;
    EXPECT_EQ(color, 0x123u);
}
