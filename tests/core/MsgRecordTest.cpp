#include "core/MsgRecord.h"
#include "platform/Errors.h"

#include <gtest/gtest.h>

#include <map>

using namespace pellora;

namespace {

TMsgRecord Parsed(const std::string& line) {
    TMsgRecord record;
    EXPECT_TRUE(ParseMsgRecord(line, record)) << line;
    return record;
}

} // namespace

TEST(MsgRecord, ParsesSevenTrimmedFieldsAndIgnoresTheRest) {
    TMsgRecord r = Parsed(" 2026-01-05 \t| MOD |  3 | 17 | junk | -4 |  To be\t|or not|x");
    EXPECT_EQ(r.Stamp, "2026-01-05");
    EXPECT_EQ(r.Action, TMsgAction::Mod);
    EXPECT_EQ(r.Group, 3);
    EXPECT_EQ(r.ServerId, 17);
    EXPECT_EQ(r.OwnId, -4);
    EXPECT_EQ(r.Text, "To be");

    TMsgRecord empty = Parsed("|DEL||||||");
    EXPECT_EQ(empty, (TMsgRecord{"", TMsgAction::Del, 0, 0, 0, ""}));
    EXPECT_EQ(Parsed("|NEW|1|||-1|A|B").Text, "A");
}

TEST(MsgRecord, LinesThatAreNotRecordsLeaveTheRecordAlone) {
    TMsgRecord r{"keep", TMsgAction::Mod, 9, 9, 9, "keep"};
    const TMsgRecord before = r;
    for (const char* line :
         {"", "   ", "|NEW|1|||-1", "|new|1|||-1|x", "|NEWS|1|||-1|x", "|N EW|1|||-1|x",
          "NEW|1||-1|delta lines have five fields", "bad|nope|x|y|z|w|v"})
        EXPECT_FALSE(ParseMsgRecord(line, r)) << line;
    EXPECT_EQ(r, before);
}

TEST(MsgRecord, BadNumberInARecordIsAConversionError) {
    TMsgRecord r{"keep", TMsgAction::Mod, 9, 9, 9, "keep"};
    const TMsgRecord before = r;
    try {
        ParseMsgRecord("|NEW|x1|||-1|t", r);
        FAIL() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'x1' is not a valid integer value");
    }
    EXPECT_THROW(ParseMsgRecord("|NEW|1|2147483648||-1|t", r), EConvertError);
    EXPECT_THROW(ParseMsgRecord("|NEW|1|||- 1|t", r), EConvertError);
    EXPECT_EQ(r, before);
    // The fifth field is never read.
    EXPECT_EQ(Parsed("|NEW|1||not a number|-2147483648|t").OwnId, INT32_MIN);
}

TEST(MsgRecord, FormsTheLinesTheProgramWrites) {
    TMsgRecord own{"", TMsgAction::New, 1, 0, -1, "Look at your hands."};
    EXPECT_EQ(FormatMsgRecord(own), "|NEW|1|||-1|Look at your hands.");
    EXPECT_EQ(FormatDeltaLine(own), "NEW|1||-1|Look at your hands.");

    TMsgRecord server{"s1", TMsgAction::Del, 0, 55, 0, ""};
    EXPECT_EQ(FormatMsgRecord(server), "s1|DEL|0|55|||");
    EXPECT_EQ(FormatDeltaLine(server), "DEL|0|55|0|");

    // A line break must not split the line (and forge a record) when the file is read.
    TMsgRecord broken{"", TMsgAction::Mod, 2, 0, -3, "one\r\n|DEL|2|||-7|"};
    EXPECT_EQ(FormatMsgRecord(broken), "|MOD|2|||-3|one  |DEL|2|||-7|");
    EXPECT_EQ(FormatDeltaLine(broken), "MOD|2||-3|one  |DEL|2|||-7|");
    EXPECT_EQ(Parsed(FormatMsgRecord(broken)).Text, "one");
}

TEST(MsgRecord, ReplayFollowsTheJournal) {
    std::vector<std::string> lines = {
        "|MOD|1|5|||ghost change", // unknown key: nothing
        "|DEL|1|5|||",             // unknown key: nothing
        "a|NEW|1|5|||first five",
        "|new|1|6|||lower case is no record",
        "|NEW|1|6||",
        "b|NEW|2|7|||seven",
        "c|NEW|1|5|||second five",
        "|MOD|1|5|||second five, changed",
        "",
        "|NEW|3|8|||eight",
        "|DEL|3|8|||",
        "|MOD|2|7|||seven, changed",
    };
    TextList all = {{"first five", 5}, {"seven, changed", 7}, {"second five, changed", 5}};
    EXPECT_EQ(ReplayJournal(lines, 0, true), all);
    EXPECT_EQ(ReplayJournal(lines, -1, true), all);
    EXPECT_EQ(ReplayJournal(lines, 1, true),
              (TextList{{"first five", 5}, {"second five, changed", 5}}));
    EXPECT_EQ(ReplayJournal(lines, 2, true), (TextList{{"seven, changed", 7}}));

    // Keyed by OwnId every line has key 0: each change hits the latest addition.
    EXPECT_EQ(ReplayJournal(lines, 0, false),
              (TextList{{"first five", 0}, {"seven", 0}, {"seven, changed", 0}}));

    lines.push_back("|DEL|1|5|||");
    EXPECT_EQ(ReplayJournal(lines, 0, true), (TextList{{"first five", 5}, {"seven, changed", 7}}));
    lines.push_back("|NEW|1|x|||bad");
    EXPECT_THROW(ReplayJournal(lines, 0, true), EConvertError);
}

TEST(MsgRecord, PendingBlockIsTheTailWithoutServerMarks) {
    std::size_t start = 99;
    EXPECT_FALSE(FindPendingStart({}, start));
    std::vector<std::string> lines = {"s|NEW|1|40||-1|synced", "|NEW|1|||-2|two",   "",
                                      "not a record",          "|MOD|1|||-2|two b", "   "};
    EXPECT_TRUE(FindPendingStart(lines, start));
    EXPECT_EQ(start, 1u);

    // A change of an uploaded message carries its ServerId but is unsent all the same.
    lines.push_back("|MOD|1|40||-1|synced b");
    start = 99;
    EXPECT_TRUE(FindPendingStart(lines, start));
    EXPECT_EQ(start, 1u);
    lines.push_back("|NEW|1|||-3|three");
    EXPECT_TRUE(FindPendingStart(lines, start));
    EXPECT_EQ(start, 1u);
    lines.push_back("s2|NEW|1|41||-3|three");
    EXPECT_FALSE(FindPendingStart(lines, start));
    EXPECT_FALSE(FindPendingStart({"", "no", "|MOD|1|||"}, start));
}

TEST(MsgRecord, MergeFoldsEditsIntoTheLinesTheyChange) {
    // Added then changed twice: one NEW line, its own fields, the last text.
    EXPECT_EQ(
        MergeJournal({"|NEW|1|||-1|a", "|NEW|2|||-2|b", "|MOD|3|||-1|a2", "|MOD|3|||-1|a3"}, false),
        (std::vector<std::string>{"|NEW|1|||-1|a3", "|NEW|2|||-2|b"}));
    // Added then deleted: gone, the others keep their order.
    EXPECT_EQ(MergeJournal({"|NEW|1|||-1|a", "|NEW|1|||-2|b", "|MOD|1|||-1|a2", "|DEL|1|||-1|",
                            "|NEW|1|||-3|c"},
                           false),
              (std::vector<std::string>{"|NEW|1|||-2|b", "|NEW|1|||-3|c"}));
    // A saved message changed twice: one MOD with the second text.
    EXPECT_EQ(MergeJournal({"|MOD|1|||-1|x", "|MOD|1|||-1|y"}, false),
              (std::vector<std::string>{"|MOD|1|||-1|y"}));
    // Unmatched deletions stay; blank lines and non-records go.
    EXPECT_EQ(MergeJournal({"", "|DEL|1|||-1|", "junk", "|DEL|1|||-2|"}, false),
              (std::vector<std::string>{"|DEL|1|||-1|", "|DEL|1|||-2|"}));
    // Keyed by ServerId.
    EXPECT_EQ(MergeJournal({"|NEW|1|7||-1|a", "|MOD|1|7||-9|b"}, true),
              (std::vector<std::string>{"|NEW|1|7||-1|b"}));
}

TEST(MsgRecord, MergeKeepsTheDeletionOfAChangedSavedMessage) {
    // The saved message was changed, then deleted: dropping both lines would bring it back.
    EXPECT_EQ(MergeJournal({"|MOD|1|||-1|x", "|NEW|1|||-2|b", "|DEL|1|||-1|"}, false),
              (std::vector<std::string>{"|NEW|1|||-2|b", "|DEL|1|||-1|"}));
    // Two saved messages with one key (a hand-edited file), both deleted.
    EXPECT_EQ(
        MergeJournal({"|DEL|1|||-1|", "|NEW|1|||-1|n", "|DEL|1|||-1|", "|DEL|2|||-1|"}, false),
        (std::vector<std::string>{"|DEL|1|||-1|", "|DEL|2|||-1|"}));
}

TEST(MsgRecord, KeyIndexKeepsEveryKeyThroughGrowthAndCollisions) {
    // Keys sharing their low bits, negative keys and neighbours all land near each other.
    std::vector<std::int32_t> keys;
    for (std::int32_t i = 0; i < 3000; ++i) {
        keys.push_back(static_cast<std::int32_t>(static_cast<std::uint32_t>(i) << 20));
        keys.push_back(-i);
        keys.push_back(INT32_MIN + i);
        keys.push_back(static_cast<std::int32_t>(i * 2654435761u));
    }
    TKeyIndex index;
    std::map<std::int32_t, std::uint32_t> expected;
    std::uint32_t value = 0;
    for (std::int32_t key : keys) {
        EXPECT_EQ(index[key], expected.count(key) ? expected[key] : TKeyIndex::None);
        index[key] = expected[key] = value++;
    }
    for (auto [key, stored] : expected) {
        ASSERT_NE(index.Find(key), nullptr);
        EXPECT_EQ(*index.Find(key), stored);
        EXPECT_EQ(index.Peek(key), stored);
    }
    EXPECT_EQ(index.Find(12345), nullptr);
    EXPECT_EQ(index.Peek(12345), TKeyIndex::None);
    index.Clear();
    EXPECT_EQ(index.Find(0), nullptr);
}
