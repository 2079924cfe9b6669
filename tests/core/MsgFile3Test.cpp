#include "core/MsgFile3.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace pellora;
using pellora::test::GetFile;
using pellora::test::PutFile;
using pellora::test::TempDir;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

using Lines = std::vector<std::string>;

// What a fresh collection reads back from the file.
TextList Reread(const TempDir& dir, const std::string& language = "EN") {
    TOwnPopups fresh(dir.Path(), language, "custom");
    return fresh.Messages(0, false);
}

std::string Uploads(TOwnPopups& own, std::size_t& start) {
    Lines compacted, deltas;
    own.CopyUploadsTo(start, compacted);
    TBaseOwnPopups::FormatUploads(compacted, deltas);
    std::string all;
    for (auto& line : deltas)
        all += line + "\n";
    return all;
}

} // namespace

TEST(MsgFile3, OwnMessagesAreWrittenAndSentInTheirExactForm) {
    TempDir dir;
    TOwnPopups own(dir.Path(), "EN", "custom");
    EXPECT_EQ(own.FileName(), "");
    own.AddMessage(1, -1, "Look at your hands.");
    EXPECT_EQ(GetFile(dir / "en/custom.cfg"), "<missing>"); // nothing before Flush
    own.Flush();
    EXPECT_FALSE(own.HasPendingEdits());
    EXPECT_EQ(own.FileName(), dir / "en/custom.cfg");
    EXPECT_EQ(GetFile(dir / "en/custom.cfg"), "|NEW|1|||-1|Look at your hands.\r\n");
    std::size_t start = 99;
    EXPECT_EQ(Uploads(own, start), "NEW|1||-1|Look at your hands.\n");
    EXPECT_EQ(start, 0u);

    // No "|" inside a text and no outer blanks survive the file.
    own.AddMessage(1, -2, "A|B");
    own.AddMessage(2, -3, "  padded \t");
    own.Flush();
    EXPECT_EQ(Reread(dir), (TextList{{"Look at your hands.", -1}, {"A", -2}, {"padded", -3}}));
}

TEST(MsgFile3, SavedMessageThenDeletedLeavesNothingToUpload) {
    TempDir dir;
    TOwnPopups own(dir.Path(), "EN", "custom");
    own.AddMessage(1, -1, "gone soon");
    own.Flush();
    own.DeleteMessage(1, -1);
    own.Flush();
    EXPECT_EQ(GetFile(dir / "en/custom.cfg"), "|NEW|1|||-1|gone soon\r\n|DEL|1|||-1|\r\n");
    std::size_t start = 0;
    Lines target = {"stale"};
    EXPECT_FALSE(own.CopyUploadsTo(start, target));
    EXPECT_TRUE(target.empty());
    EXPECT_TRUE(Reread(dir).empty());
}

TEST(MsgFile3, ChangesOfSavedMessagesBecomeOneModLine) {
    TempDir dir;
    PutFile(dir / "en/custom.cfg", "s|NEW|1|40||-1|uploaded\r\n|NEW|2|||-2|saved\r\n");
    TOwnPopups own(dir.Path(), "EN", "custom");
    own.ModifyMessage(2, -2, "first");
    own.ModifyMessage(2, -2, "second");
    own.ModifyMessage(1, -1, "uploaded, changed");
    own.ModifyMessage(1, -9, "never added");
    own.DeleteMessage(1, -9);
    EXPECT_EQ(own.SearchKey, -9);
    EXPECT_EQ(own.PendingCount(), 2u);
    own.Flush();
    EXPECT_EQ(GetFile(dir / "en/custom.cfg"), "s|NEW|1|40||-1|uploaded\r\n|NEW|2|||-2|saved\r\n"
                                              "|MOD|2|||-2|second\r\n"
                                              "|MOD|1|40||-1|uploaded, changed\r\n");
    EXPECT_EQ(Reread(dir), (TextList{{"uploaded, changed", -1}, {"second", -2}}));
}

TEST(MsgFile3, EditsOfMessagesAddedSinceTheLastFlushAreKept) {
    TempDir dir;
    PutFile(dir / "en/custom.cfg", "|NEW|1|||-1|saved\r\n");
    TOwnPopups own(dir.Path(), "EN", "custom");
    own.AddMessage(1, -2, "typo");
    own.ModifyMessage(1, -2, "fixed");
    own.AddMessage(1, -3, "unwanted");
    own.DeleteMessage(1, -3);
    own.ModifyMessage(1, -1, "saved, changed");
    EXPECT_EQ(own.PendingCount(), 2u);
    own.Flush();
    EXPECT_EQ(GetFile(dir / "en/custom.cfg"),
              "|NEW|1|||-1|saved\r\n|NEW|1|||-2|fixed\r\n|MOD|1|||-1|saved, changed\r\n");
    EXPECT_EQ(Reread(dir), (TextList{{"saved, changed", -1}, {"fixed", -2}}));
}

TEST(MsgFile3, DeletingAChangedSavedMessageReachesTheFileAndTheUpload) {
    TempDir dir;
    PutFile(dir / "en/custom.cfg", "s|NEW|1|40||-1|synced\r\n|NEW|3|||-2|saved\r\n");
    TOwnPopups own(dir.Path(), "EN", "custom");
    own.ModifyMessage(3, -2, "changed");
    own.DeleteMessage(3, -2);
    own.Flush();
    EXPECT_EQ(GetFile(dir / "en/custom.cfg"),
              "s|NEW|1|40||-1|synced\r\n|NEW|3|||-2|saved\r\n|DEL|3|||-2|\r\n");
    EXPECT_EQ(Reread(dir), (TextList{{"synced", -1}}));

    // An uploaded message: its change gives way to the deletion.
    PutFile(dir / "de/custom.cfg", "s|NEW|1|40||-1|synced\r\n");
    TOwnPopups de(dir.Path(), "DE", "custom");
    de.ModifyMessage(1, -1, "changed");
    de.DeleteMessage(1, -1);
    de.Flush();
    EXPECT_EQ(de.Lines, (Lines{"s|NEW|1|40||-1|synced", "|DEL|1|40||-1|"}));
    EXPECT_TRUE(Reread(dir, "DE").empty());
}

TEST(MsgFile3, CommitReplacesThePendingBlockAndKeepsABackup) {
    TempDir dir;
    const std::string before = "s|NEW|1|40||-1|synced\r\n\r\n|NEW|1|||-2|b\r\n|MOD|1|||-2|b2\r\n";
    PutFile(dir / "en/custom.cfg", before);
    TOwnPopups own(dir.Path(), "EN", "custom");
    std::size_t start = 0;
    EXPECT_EQ(Uploads(own, start), "NEW|1||-2|b2\n");
    EXPECT_EQ(start, 2u);

    own.CommitUploads(start, {});
    EXPECT_EQ(GetFile(dir / "en/custom.bak"), "<missing>");
    EXPECT_EQ(GetFile(dir / "en/custom.cfg"), before);

    own.CommitUploads(start, {"t|NEW|1|41||-2|b2"});
    EXPECT_EQ(GetFile(dir / "en/custom.bak"), before);
    EXPECT_EQ(GetFile(dir / "en/custom.cfg"), "s|NEW|1|40||-1|synced\r\n\r\nt|NEW|1|41||-2|b2\r\n");
    // The last record now carries a Stamp: nothing left to upload.
    Lines target;
    EXPECT_FALSE(own.CopyUploadsTo(start, target));
    EXPECT_TRUE(target.empty());
}

TEST(MsgFile3, CopyUploadsToNeedsFlushedEdits) {
    TempDir dir;
    TOwnPopups own(dir.Path(), "EN", "custom");
    own.AddMessage(1, -1, "unsaved");
    std::size_t start = 0;
    Lines target = {"stale"};
    try {
        own.CopyUploadsTo(start, target);
        FAIL() << "no assertion";
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "Flush edits before calling CopyUploadsTo!");
    }
    EXPECT_TRUE(target.empty());
    EXPECT_TRUE(own.HasPendingEdits());
}

TEST(MsgFile3, LanguageFolderIsLowerCaseAndFindIsExact) {
    TempDir dir;
    TOwnPopupsList list;
    TOwnPopups* en = nullptr;
    TOwnPopups* found = nullptr;
    EXPECT_FALSE(list.Find(dir.Path(), "EN", en, false, "custom"));
    EXPECT_EQ(en, nullptr);
    ASSERT_TRUE(list.Find(dir.Path(), "EN", en, true, "custom"));
    std::string path;
    EXPECT_FALSE(en->GetFolder(false, path));
    EXPECT_TRUE(en->GetFolder(true, path));
    EXPECT_EQ(path, dir / "en");

    EXPECT_FALSE(list.Find(dir.Path(), "en", found, false, "custom"));
    ASSERT_TRUE(list.Find(dir.Path(), "en", found, true, "custom"));
    EXPECT_NE(found, en);
    TOwnPopups* again = nullptr;
    EXPECT_TRUE(list.Find(dir.Path(), "EN", again, false, "custom"));
    EXPECT_EQ(again, en);
    EXPECT_EQ(list.Count(), 2u);

    TOwnPopups* de = nullptr;
    ASSERT_TRUE(list.Find(dir.Path(), "DE", de, true, "custom"));
    en->AddMessage(1, -1, "english");
    de->AddMessage(1, -2, "deutsch");
    list.FlushAll();
    EXPECT_EQ(GetFile(dir / "en/custom.cfg"), "|NEW|1|||-1|english\r\n");
    EXPECT_EQ(GetFile(dir / "de/custom.cfg"), "|NEW|1|||-2|deutsch\r\n");

    EXPECT_TRUE(list.Remove(en));
    EXPECT_FALSE(list.Remove(en));
    EXPECT_EQ(list.Count(), 2u);
    EXPECT_FALSE(list.Find(dir.Path(), "EN", again, false, "custom"));
}

TEST(MsgFile3, EmptyLanguageHasNoFileAndNeverWrites) {
    TempDir dir;
    PutFile(dir / "custom.cfg", "|NEW|1|||-1|not mine\r\n");
    TOwnPopups own(dir.Path(), "", "custom");
    std::string path;
    EXPECT_FALSE(own.GetFolder(true, path));
    EXPECT_EQ(own.FileName(), "");
    EXPECT_TRUE(own.Lines.empty());
    own.AddMessage(1, -1, "kept in memory");
    own.Flush();
    own.Backup();
    own.CommitUploads(0, {"s|NEW|1|1||-1|x"});
    EXPECT_EQ(own.Lines, (Lines{"|NEW|1|||-1|kept in memory"}));
    EXPECT_EQ(GetFile(dir / "custom.cfg"), "|NEW|1|||-1|not mine\r\n");
    EXPECT_EQ(pellora::ListFolder(dir.Path()), (Lines{"custom.cfg"}));
}

TEST(MsgFile3, FolderThatCannotBeMadeStopsRefreshAndFlushKeepingTheEdits) {
    TempDir dir;
    PutFile(dir / "plain", "a regular file");
    TRemotePopups library(dir / "plain/", "EN", "messages");
    try {
        library.RefreshList({"a|NEW|1|5|||five"});
        FAIL() << "no assertion";
    } catch (const EAssertionFailed& e) {
        // The designed text, then the folder it is about and why it could not be made.
        EXPECT_THAT(e.what(), StartsWith("Error while requiring folder name for downloads in "
                                         "RefreshList: \"" +
                                         dir / "plain/en\""));
        EXPECT_THAT(e.what(), HasSubstr("Not a directory"));
    }
    EXPECT_TRUE(library.Lines.empty());
    // A plain file where the language folder itself should be.
    PutFile(dir / "Local/en", "not a folder");
    TRemotePopups blocked(dir / "Local/", "EN", "messages");
    EXPECT_THROW(
        try { blocked.RefreshList({"a|NEW|1|5|||five"}); } catch (const EAssertionFailed& e) {
            EXPECT_THAT(e.what(), HasSubstr("\"" + dir / "Local/en\""));
            throw;
        },
        EAssertionFailed);

    TOwnPopups own(dir / "plain/", "EN", "custom");
    own.AddMessage(1, -1, "not written");
    EXPECT_THROW(
        try { own.Flush(); } catch (const EFileError& e) {
            EXPECT_THAT(e.what(), HasSubstr("\"" + dir / "plain/en\""));
            throw;
        },
        EFileError);
    EXPECT_TRUE(own.HasPendingEdits());
    EXPECT_TRUE(own.Lines.empty());
    EXPECT_EQ(GetFile(dir / "plain"), "a regular file");
}

TEST(MsgFile3, RefreshListReplacesTheLibraryWhereverItsFolderIsSpelled) {
    TempDir dir;
    TRemotePopups library(dir / "Local/", "NL", "messages");
    library.RefreshList({"a|NEW|4|5|||vijf", "", "a|NEW|4|6|||zes", "b|DEL|4|5|||"});
    EXPECT_EQ(GetFile(dir / "Local/nl/messages.cfg"),
              "a|NEW|4|5|||vijf\r\n\r\na|NEW|4|6|||zes\r\nb|DEL|4|5|||\r\n");
    TRemotePopups reread(dir / "Local/", "NL", "messages");
    EXPECT_EQ(reread.Messages(4, true), (TextList{{"zes", 6}}));
    EXPECT_TRUE(reread.Messages(1, true).empty());

    // A folder and file from an older copy in another case are the same library.
    PutFile(dir / "EN/Messages.cfg", "a|NEW|1|5|||five\r\n");
    TRemotePopups english(dir.Path(), "EN", "messages");
    EXPECT_EQ(english.Messages(0, true), (TextList{{"five", 5}}));
    english.RefreshList({"b|NEW|1|6|||six"});
    EXPECT_EQ(GetFile(dir / "EN/Messages.cfg"), "b|NEW|1|6|||six\r\n");
    EXPECT_EQ(GetFile(dir / "en/messages.cfg"), "<missing>");
}

TEST(MsgFile3, BadNumberFieldEndsTheReadingWithAConversionError) {
    TempDir dir;
    PutFile(dir / "en/custom.cfg", "|NEW|1|||-1|fine\r\n|MOD|one|||-1|bad\r\n");
    TOwnPopups own(dir.Path(), "EN", "custom");
    EXPECT_EQ(own.Lines.size(), 2u);
    EXPECT_THROW(own.Messages(0, false), EConvertError);
    std::int32_t serverId = 0;
    EXPECT_THROW(own.FindNewRecord(-2, serverId), EConvertError);
    EXPECT_EQ(GetFile(dir / "en/custom.cfg"), "|NEW|1|||-1|fine\r\n|MOD|one|||-1|bad\r\n");
}

// One language that cannot be written neither stops the others nor loses its own edits; each
// file not written is named, and a later flush writes it.
TEST(MsgFile3, FlushAllWritesWhatItCanAndNamesAndKeepsTheRest) {
    TempDir dir;
    TOwnPopupsList list;
    const std::vector<std::string> codes{"EN", "DE", "NL"};
    for (std::size_t i = 0; i < codes.size(); ++i) {
        TOwnPopups* own = nullptr;
        ASSERT_TRUE(list.Find(dir.Path(), codes[i], own, true, "custom"));
        own->AddMessage(1, -static_cast<std::int32_t>(i) - 1, codes[i]);
    }
    for (const char* blocked : {"en/custom.cfg", "nl/custom.cfg"})
        ASSERT_TRUE(pellora::ForceDirectories(dir / blocked));
    try {
        list.FlushAll();
        ADD_FAILURE() << "nothing failed";
    } catch (const EFileError& e) {
        EXPECT_THAT(e.what(), HasSubstr(dir / "en/custom.cfg"));
        EXPECT_THAT(e.what(), HasSubstr(dir / "nl/custom.cfg"));
    }
    EXPECT_EQ(GetFile(dir / "de/custom.cfg"), "|NEW|1|||-2|DE\r\n");
    for (const char* blocked : {"en/custom.cfg", "nl/custom.cfg"})
        ASSERT_EQ(::rmdir((dir / blocked).c_str()), 0);
    list.FlushAll();
    EXPECT_EQ(GetFile(dir / "en/custom.cfg"), "|NEW|1|||-1|EN\r\n");
    EXPECT_EQ(GetFile(dir / "nl/custom.cfg"), "|NEW|1|||-3|NL\r\n");
}
