// The collections' side of an upload: what goes out, and what the file holds after the
// server's answer.
#include "core/MsgFile3.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "support/TempDir.h"

#include <cstdio>
#include <gtest/gtest.h>

using namespace pellora;
using pellora::test::GetFile;
using pellora::test::PutFile;
using pellora::test::TempDir;

namespace {

using Lines = std::vector<std::string>;

// The delta lines an upload would send now, as the own-message page collects them.
Lines Deltas(TOwnPopups& own, std::size_t& start) {
    own.Flush();
    Lines compacted, deltas;
    if (own.CopyUploadsTo(start, compacted))
        TBaseOwnPopups::FormatUploads(compacted, deltas);
    return deltas;
}

} // namespace

TEST(MsgFile3Upload, ChangesOfUploadedMessagesGoOutWithTheUnsentOnes) {
    TempDir dir;
    PutFile(dir / "en/custom.cfg", "s|NEW|1|40||-1|uploaded\r\n"
                                   "s|NEW|3|41||-3|also uploaded\r\n");
    TOwnPopups own(dir.Path(), "EN", "custom");
    own.AddMessage(2, -2, "written later");
    own.Flush();
    own.ModifyMessage(1, -1, "uploaded, changed");
    own.DeleteMessage(3, -3);
    std::size_t start = 0;
    // The change carries its ServerId; it must neither stay behind nor hide the new message.
    EXPECT_EQ(Deltas(own, start),
              (Lines{"NEW|2||-2|written later", "MOD|1|40|-1|uploaded, changed", "DEL|3|41|-3|"}));
    EXPECT_EQ(start, 2u);

    own.CommitUploads(start, {"t1|NEW|2|42||-2|written later", "t2|MOD|1|40||-1|uploaded, changed",
                              "t3|DEL|3|41||-3|"});
    TOwnPopups reread(dir.Path(), "EN", "custom");
    EXPECT_EQ(reread.Messages(0, false),
              (TextList{{"uploaded, changed", -1}, {"written later", -2}}));
    EXPECT_TRUE(Deltas(reread, start).empty());

    // The next change of the new message names the id the server gave it.
    reread.ModifyMessage(2, -2, "written later, changed");
    EXPECT_EQ(Deltas(reread, start), (Lines{"MOD|2|42|-2|written later, changed"}));
}

TEST(MsgFile3Upload, OnlyTheTrailingUnstampedRunIsSent) {
    TempDir dir;
    // An unsent line before a stamped one was answered by the server already (its stamped
    // copy follows), so it is history, not pending.
    PutFile(dir / "en/custom.cfg", "|NEW|1|||-1|old\r\n"
                                   "s|NEW|1|40||-1|old\r\n"
                                   "\r\n"
                                   "not a record\r\n"
                                   "|NEW|1|||-2|new\r\n"
                                   "\r\n");
    TOwnPopups own(dir.Path(), "EN", "custom");
    std::size_t start = 0;
    EXPECT_EQ(Deltas(own, start), (Lines{"NEW|1||-2|new"}));
    EXPECT_EQ(start, 4u);

    PutFile(dir / "de/custom.cfg", "|NEW|1|||-1|a\r\ns|MOD|1|40||-1|b\r\n\r\n");
    TOwnPopups stamped(dir.Path(), "DE", "custom");
    EXPECT_TRUE(Deltas(stamped, start).empty());
    EXPECT_FALSE(stamped.FindUploadStart(start));
}

TEST(MsgFile3Upload, AFailedCommitKeepsTheBlockToSendAgain) {
    TempDir dir;
    const std::string before = "s|NEW|1|40||-1|synced\r\n|NEW|1|||-2|unsent\r\n";
    PutFile(dir / "en/custom.cfg", before);
    TOwnPopups own(dir.Path(), "EN", "custom");
    std::size_t start = 0;
    ASSERT_EQ(Deltas(own, start), (Lines{"NEW|1||-2|unsent"}));

    // A folder where the file should be: the replacement cannot be renamed into place.
    ASSERT_EQ(std::rename((dir / "en/custom.cfg").c_str(), (dir / "en/moved.cfg").c_str()), 0);
    ASSERT_TRUE(ForceDirectories(dir / "en/custom.cfg/inside"));
    EXPECT_THROW(own.CommitUploads(start, {"t|NEW|1|41||-2|unsent"}), EFileError);
    EXPECT_EQ(own.Lines, (Lines{"s|NEW|1|40||-1|synced", "|NEW|1|||-2|unsent"}));
    std::size_t again = 0;
    EXPECT_EQ(Deltas(own, again), (Lines{"NEW|1||-2|unsent"}));
    EXPECT_EQ(again, start);
    EXPECT_EQ(GetFile(dir / "en/moved.cfg"), before);
}

// The dialog and pellora-cli each merge with the file as it is when they write: neither undoes
// what the other committed meanwhile, and changes take the server number an upload gave.
TEST(MsgFile3Upload, WritersMeetingInTheFileKeepEachOthersLines) {
    TempDir dir;
    PutFile(dir / "en/custom.cfg", "|NEW|1|||-1|mine\r\n");
    TOwnPopups dialog(dir.Path(), "EN", "custom");
    TOwnPopups cli(dir.Path(), "EN", "custom");
    std::size_t start = 0;
    ASSERT_EQ(Deltas(cli, start), (Lines{"NEW|1||-1|mine"}));
    cli.CommitUploads(start, {"t|NEW|1|40||-1|mine"});
    dialog.ModifyMessage(1, -1, "mine, changed");
    dialog.Flush();
    EXPECT_EQ(GetFile(dir / "en/custom.cfg"),
              "t|NEW|1|40||-1|mine\r\n|MOD|1|40||-1|mine, changed\r\n");

    TOwnPopups later(dir.Path(), "EN", "custom");
    ASSERT_EQ(Deltas(later, start), (Lines{"MOD|1|40|-1|mine, changed"}));
    dialog.AddMessage(2, -2, "while uploading");
    dialog.Flush();
    later.CommitUploads(start, {"u|MOD|1|40||-1|mine, changed"});
    EXPECT_EQ(GetFile(dir / "en/custom.cfg"), "t|NEW|1|40||-1|mine\r\nu|MOD|1|40||-1|mine, "
                                              "changed\r\n|NEW|2|||-2|while uploading\r\n");
    // A commit over a block another upload replaced meanwhile writes nothing.
    TOwnPopups stale(dir.Path(), "EN", "custom");
    ASSERT_EQ(Deltas(stale, start), (Lines{"NEW|2||-2|while uploading"}));
    later.CommitUploads(start, {"v|NEW|2|41||-2|while uploading"});
    EXPECT_THROW(stale.CommitUploads(start, {"w|NEW|2|42||-2|while uploading"}), EFileError);
    EXPECT_EQ(GetFile(dir / "en/custom.cfg").find("w|"), std::string::npos);
}
