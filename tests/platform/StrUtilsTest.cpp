#include "platform/StrUtils.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

using namespace pellora;

TEST(StrUtils, TrimDropsBlanksAndControlCharactersButKeepsOtherBytes) {
    EXPECT_EQ(Trim(" \t\x01 text \r\n"), "text");
    EXPECT_EQ(Trim("\xC3\xA9 "), "\xC3\xA9");
    EXPECT_EQ(Trim("   "), "");
}

TEST(StrUtils, SplitFieldsKeepsEmptyFields) {
    auto fields = SplitFields("|NEW|1|||-1|Look", '|');
    ASSERT_EQ(fields.size(), 7u);
    EXPECT_EQ(fields[0], "");
    EXPECT_EQ(fields[1], "NEW");
    EXPECT_EQ(fields[6], "Look");
    EXPECT_EQ(SplitFields("", '|').size(), 1u);
}

TEST(StrUtils, IntegersAreWholeDecimalNumbersIn32Bits) {
    EXPECT_EQ(ParseInt32("-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseInt32("2147483647"), INT32_MAX);
    EXPECT_FALSE(ParseInt32("2147483648"));
    EXPECT_FALSE(ParseInt32("-2147483649"));
    EXPECT_FALSE(ParseInt32("12a"));
    EXPECT_FALSE(ParseInt32("-"));
    EXPECT_FALSE(ParseInt32(""));
    EXPECT_FALSE(ParseInt32(" 1"));
    EXPECT_EQ(StrToInt("+17"), 17);
    try {
        StrToInt("x1");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'x1' is not a valid integer value");
    }
}

TEST(StrUtils, WideIntegersTakeTheSameSignsAndRefuseWhatDoesNotFit) {
    EXPECT_EQ(ParseInt64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(ParseInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(ParseInt64("+4294967296"), 4294967296);
    EXPECT_FALSE(ParseInt64("9223372036854775808"));
    EXPECT_FALSE(ParseInt64("+-1"));
    EXPECT_FALSE(ParseInt64("+"));
    EXPECT_FALSE(ParseInt64(""));
    EXPECT_FALSE(ParseInt64("1 "));
}

TEST(StrUtils, CaseHelpersTouchOnlyAsciiLetters) {
    EXPECT_EQ(UpperCaseAscii("en-\xC3\xA9"), "EN-\xC3\xA9");
    EXPECT_EQ(LowerCaseAscii("EN"), "en");
    EXPECT_TRUE(SameText("Pellora 3", "pELLORA 3"));
    EXPECT_FALSE(SameText("Pellora 3", "Pellora 30"));
    EXPECT_EQ(Format("%s|%d|%d|%s", "EN", 1, -2, "x"), "EN|1|-2|x");
}
