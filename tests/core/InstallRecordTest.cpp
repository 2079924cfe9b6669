#include "core/InstallRecord.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

using namespace pellora;

TEST(InstallRecord, ReadsFourTrimmedFieldsAndIgnoresTheRest) {
    TInstallRecord record;
    ASSERT_TRUE(ParseInstallRecord("EN|4|17|To be|or not", record));
    EXPECT_EQ(record.Language, "EN");
    EXPECT_EQ(record.Group, 4);
    EXPECT_EQ(record.MessageId, 17);
    EXPECT_EQ(record.Text, "To be");

    ASSERT_TRUE(ParseInstallRecord(" DE\t| 2 |\x01-5\x02 |  Look up \r", record));
    EXPECT_EQ(record.Language, "DE");
    EXPECT_EQ(record.Group, 2);
    EXPECT_EQ(record.MessageId, -5);
    EXPECT_EQ(record.Text, "Look up");

    ASSERT_TRUE(ParseInstallRecord("|| |", record)); // empty numbers are 0
    EXPECT_EQ(record.Language, "");
    EXPECT_EQ(record.Group, 0);
    EXPECT_EQ(record.MessageId, 0);
    EXPECT_EQ(record.Text, "");
}

TEST(InstallRecord, FewerThanFourFieldsIsNotARecord) {
    TInstallRecord record{"XX", 9, 9, "keep"};
    for (const char* line : {"", "EN", "EN|1|17", "EN|x|y"}) {
        EXPECT_FALSE(ParseInstallRecord(line, record)) << line;
        EXPECT_EQ(record.Text, "keep");
    }
}

TEST(InstallRecord, ABadNumberFieldIsAConversionErrorNamingIt) {
    for (auto [line, message] :
         {std::pair{"EN| x1 |17|t", "'x1' is not a valid integer value"},
          {"EN|1|1.5|t", "'1.5' is not a valid integer value"},
          {"EN|1|2147483648|t", "'2147483648' is not a valid integer value"}}) {
        TInstallRecord record;
        try {
            ParseInstallRecord(line, record);
            ADD_FAILURE() << "no error for " << line;
        } catch (const EConvertError& error) {
            EXPECT_STREQ(error.what(), message);
        }
    }
    InstallRecordView view;
    EXPECT_TRUE(ParseInstallRecord("EN|1|-2147483648|t", view));
    EXPECT_EQ(view.MessageId, INT32_MIN);
}

TEST(InstallRecord, WritesNumbersAlwaysAndReadsBackWhatItWrote) {
    EXPECT_EQ(FormatInstallRecord({"EN", 0, -3, "Hi"}), "EN|0|-3|Hi");
    TInstallRecord back;
    ASSERT_TRUE(ParseInstallRecord(FormatInstallRecord({"NL", 3, 170, "Kijk"}), back));
    EXPECT_EQ(back.Language, "NL");
    EXPECT_EQ(back.Group, 3);
    EXPECT_EQ(back.MessageId, 170);
    EXPECT_EQ(back.Text, "Kijk");
}
