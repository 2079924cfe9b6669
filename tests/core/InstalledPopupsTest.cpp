#include "core/InstalledPopups.h"
#include "core/InstallRecord.h"
#include "platform/Errors.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace pellora;
using pellora::test::GetFile;
using pellora::test::PutFile;
using pellora::test::TempDir;

namespace {

const char* Sample = "EN|1|17|Are you dreaming?\r\n"
                     "EN|2|-2|Water the plants\r\n"
                     "EN|1|-2|Look at your hands\r\n"
                     "en|1|40|lower case\r\n"
                     "DE|3|5|Ich bin\r\n"
                     "EN|1|170|Hundred seventy\r\n"
                     "EN|4\r\n"
                     "EN|2|9\r\n"
                     "DE|4|-7|Zitat\r\n";

std::vector<std::int32_t> Ids(const TextList& list) {
    std::vector<std::int32_t> ids;
    for (const auto& item : list)
        ids.push_back(item.Id);
    return ids;
}

TInstalledPopups Loaded(const TempDir& dir, const std::string& content = Sample) {
    PutFile(dir / "Message Selects.dat", content);
    TInstalledPopups popups;
    popups.LoadFromFile(dir / "Message Selects.dat");
    return popups;
}

} // namespace

TEST(InstalledPopups, AMissingFileIsAnEmptySelectionThatSaveCreates) {
    TempDir dir;
    TInstalledPopups popups;
    popups.LoadFromFile(dir / "none.dat");
    EXPECT_EQ(popups.FileName, dir / "none.dat");
    EXPECT_EQ(popups.Count(), 0u);
    popups.Add("EN", 1, 3, "One");
    popups.Save();
    EXPECT_EQ(GetFile(dir / "none.dat"), "EN|1|3|One\r\n");

    TInstalledPopups unnamed; // never loaded: nowhere to write
    unnamed.LoadFromLines({"EN|1|3|One"});
    unnamed.Save();
    EXPECT_TRUE(unnamed.FileName.empty());
}

TEST(InstalledPopups, QueriesFilterByLanguageExactlyAndByGroup) {
    TempDir dir;
    TInstalledPopups popups = Loaded(dir);
    TextList all;
    popups.Texts({}, all);
    EXPECT_EQ(Ids(all), (std::vector<std::int32_t>{17, -2, -2, 40, 5, 170, -7}));
    EXPECT_EQ(all[0], (TextItem{"Are you dreaming?", 17}));

    TextList some{{"kept", 99}}; // existing entries stay
    popups.Texts({1, 3}, some);
    EXPECT_EQ(Ids(some), (std::vector<std::int32_t>{99, 17, -2, 40, 5, 170}));

    TextList server, own, ownGroup2, german;
    popups.ServerIds("EN", 0, server);
    EXPECT_EQ(Ids(server), (std::vector<std::int32_t>{17, 170})); // not "en" 40
    EXPECT_EQ(server[0].Text, "");
    popups.OwnIds("EN", 0, own);
    EXPECT_EQ(Ids(own), (std::vector<std::int32_t>{-2, -2}));
    popups.OwnIds("EN", 2, ownGroup2);
    EXPECT_EQ(Ids(ownGroup2), (std::vector<std::int32_t>{-2}));
    popups.Enumerate("DE", {}, TInstalledPopups::ModeTexts, german);
    EXPECT_EQ(Ids(german), (std::vector<std::int32_t>{5, -7}));
}

TEST(InstalledPopups, UpdateAndRemoveTouchOnlyTheFirstLineOfThatExactEntry) {
    TempDir dir;
    TInstalledPopups popups = Loaded(dir, std::string(Sample) + "EN|1|-2|Second copy\r\n");
    popups.Update("EN", 1, -2, "Count your fingers");
    popups.Remove("EN", 1, 17);  // not 170
    popups.Remove("FR", 1, 170); // no such entry: nothing happens
    popups.Update("EN", 3, 17, "none");
    popups.Save();
    EXPECT_EQ(GetFile(dir / "Message Selects.dat"), "EN|2|-2|Water the plants\r\n"
                                                    "EN|1|-2|Count your fingers\r\n"
                                                    "en|1|40|lower case\r\n"
                                                    "DE|3|5|Ich bin\r\n"
                                                    "EN|1|170|Hundred seventy\r\n"
                                                    "EN|4\r\n"
                                                    "EN|2|9\r\n"
                                                    "DE|4|-7|Zitat\r\n"
                                                    "EN|1|-2|Second copy\r\n");
}

TEST(InstalledPopups, FindByIdNeedsExactlyOneLineWithThatNumber) {
    TempDir dir;
    TInstalledPopups popups = Loaded(dir, std::string(Sample) + "NL|2|5|Ik ben\r\n");
    std::string language;
    std::int32_t group = 0;
    EXPECT_TRUE(popups.FindById(-7, language, group));
    EXPECT_EQ(language, "DE");
    EXPECT_EQ(group, 4);
    EXPECT_FALSE(popups.FindById(5, language, group));
    EXPECT_FALSE(popups.FindById(-2, language, group));
    EXPECT_FALSE(popups.FindById(9, language, group)); // only on a three-field line
    popups.Remove("DE", 3, 5);
    EXPECT_TRUE(popups.FindById(5, language, group));
    EXPECT_EQ(language, "NL");
    popups.Add("EN", 2, -7, "again");
    EXPECT_FALSE(popups.FindById(-7, language, group));
}

TEST(InstalledPopups, FindLineGivesFileOrderPositionsThroughManyRemovals) {
    std::vector<std::string> lines, expected;
    for (int id = 1; id <= 3000; ++id) {
        lines.push_back(FormatInstallRecord("EN", id % 4, id, "Text " + std::to_string(id)));
        if (id % 3 == 0 || id > 2900)
            expected.push_back(lines.back());
    }
    TInstalledPopups popups;
    popups.LoadFromLines(lines);
    for (int id = 1; id <= 2900; ++id) {
        if (id % 3 == 0)
            continue;
        popups.Remove("EN", id % 4, id);
        std::size_t index = 0;
        // The line after the removed one has moved up into its place.
        ASSERT_TRUE(popups.FindLine(InstallKeyForm("EN", (id + 1) % 4, id + 1), index));
        ASSERT_EQ(index, static_cast<std::size_t>(id / 3)) << id;
    }
    EXPECT_EQ(popups.Count(), expected.size());
    EXPECT_EQ(popups.Lines(), expected);
    std::string language;
    std::int32_t group = 0;
    EXPECT_TRUE(popups.FindById(2999, language, group));
    EXPECT_EQ(group, 2999 % 4);
    EXPECT_FALSE(popups.FindById(2, language, group));
    std::size_t index = 0;
    EXPECT_TRUE(popups.FindLine("EN|", index)); // shorter than a key form
    EXPECT_EQ(index, 0u);
    EXPECT_FALSE(popups.FindLine("", index));
}

TEST(InstalledPopups, ALineBreakInATextCannotSplitTheEntryOnSave) {
    TempDir dir;
    TInstalledPopups popups = Loaded(dir, "");
    popups.Add("EN", 1, 3, "Hello\r\nEN|1|5|phantom");
    popups.Add("EN", 1, 4, "four");
    popups.Update("EN", 1, 4, "fo\rur");
    popups.Save();
    TInstalledPopups again = Loaded(dir, GetFile(dir / "Message Selects.dat"));
    TextList list;
    again.Texts({}, list);
    EXPECT_EQ(list, (TextList{{"Hello  EN", 3}, {"fo ur", 4}}));
    again.Remove("EN", 1, 3);
    EXPECT_EQ(again.Lines(), (std::vector<std::string>{"EN|1|4|fo ur"}));
}

TEST(InstalledPopups, ABadNumberStopsEveryReadingButNotTheEdits) {
    TInstalledPopups popups;
    popups.LoadFromLines({"EN|1|3|ok", "EN|one|4|bad", "EN|2|5|fine"});
    TextList list;
    EXPECT_THROW(popups.Texts({2}, list), EConvertError);
    std::string language;
    std::int32_t group = 0;
    EXPECT_THROW(popups.FindById(3, language, group), EConvertError);
    popups.Update("EN", 2, 5, "changed");
    popups.Remove("EN", 1, 3);
    EXPECT_EQ(popups.Lines(), (std::vector<std::string>{"EN|one|4|bad", "EN|2|5|changed"}));
}

TEST(InstalledPopups, TheConversionErrorNamesTheFileAndTheLine) {
    TempDir dir;
    PutFile(dir / "Message Selects.dat", "EN|1|3|ok\r\n\r\nEN|x|4|bad\r\n");
    TInstalledPopups popups;
    popups.LoadFromFile(dir / "Message Selects.dat");
    TextList list;
    try {
        popups.Texts({}, list);
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "Line 3 of \"" + dir / "Message Selects.dat" +
                                             "\": 'x' is not a valid integer value");
    }
    // Lines given without a file are still named by their number.
    popups.LoadFromLines({"EN|1|y|bad"});
    popups.FileName.clear();
    EXPECT_THROW(
        try { popups.Texts({}, list); } catch (const EConvertError& e) {
            EXPECT_STREQ(e.what(), "Line 1: 'y' is not a valid integer value");
            throw;
        },
        EConvertError);
}

// The messages dialog's "Selected" list tells entries of one number apart by language and
// group, and must go on listing past a line it cannot read.
TEST(InstalledPopups, RecordsGiveWholeEntriesAndPassOverUnreadableLines) {
    TInstalledPopups popups;
    popups.LoadFromLines(
        {"EN|1|5|five", "DE|1|5|fünf", "EN|x|6|bad", "EN|2|5|other group", "EN|1|-3|own", "EN|1"});
    std::vector<TInstallRecord> records;
    std::vector<TUnreadableLine> unreadable;
    popups.Records({}, {1}, records, &unreadable);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].Language, "DE");
    EXPECT_EQ(records[1].MessageId, 5);
    EXPECT_EQ(records[1].Text, "fünf");
    EXPECT_EQ(records[2].MessageId, -3);
    EXPECT_EQ(unreadable, (std::vector<TUnreadableLine>{{3, "'x' is not a valid integer value"}}));

    records.clear();
    popups.Records("EN", {}, records, &unreadable);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].Group, 2);
    // Without a place for them, an unreadable line stops the listing as the other queries do.
    EXPECT_THROW(popups.Records({}, {}, records), EConvertError);
}

// Save writes nothing unchanged, and makes its changes to the file as it is then: what was
// changed by hand meanwhile stays.
TEST(InstalledPopups, SaveMakesOnlyItsOwnChangesToTheFileAsItIsNow) {
    TempDir dir;
    const std::string file = dir / "Message Selects.dat";
    TInstalledPopups popups = Loaded(dir, "EN|1|1|One\r\nEN|1|2|Two\r\n");
    PutFile(file, "EN|1|1|One\r\nEN|1|2|Two\r\nDE|1|3|Drei\r\n");
    popups.Save();
    EXPECT_EQ(GetFile(file), "EN|1|1|One\r\nEN|1|2|Two\r\nDE|1|3|Drei\r\n");
    popups.Remove("EN", 1, 1);
    popups.Add("EN", 1, 4, "Four");
    popups.Update("EN", 1, 2, "Zwei");
    popups.Save();
    EXPECT_EQ(GetFile(file), "EN|1|2|Zwei\r\nDE|1|3|Drei\r\nEN|1|4|Four\r\n");
    EXPECT_EQ(popups.Count(), 3u);
}
