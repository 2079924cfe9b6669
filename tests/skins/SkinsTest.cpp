#include "skins/Skins.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace pellora;
using pellora::test::PutFile;
using pellora::test::TempDir;

namespace {

std::vector<std::string> Names(const TSkins& skins) {
    std::vector<std::string> names;
    for (int i = 0; i < skins.Count(); ++i)
        names.push_back(skins.Item(i).Name);
    return names;
}

struct TRecordingPainter : TSkinPainter {
    void LoadSkin(const std::string& folder, const TStyleSheet& sheet,
                  const std::string& credits) override {
        Folder = folder;
        Sheet = &sheet;
        Credits = credits;
        ++Calls;
    }
    std::string Folder;
    const TStyleSheet* Sheet = nullptr;
    std::string Credits;
    int Calls = 0;
};

// A skins folder with real skins, a folder that is not one, and a plain file.
void MakeSkinsFolder(const TempDir& dir) {
    PutFile(dir / "Skins/Harbrook/pellora.css", "body { color: red }\r\n");
    PutFile(dir / "Skins/Harbrook/credits.txt", "Drawn by A.\nTiles by B.");
    PutFile(dir / "Skins/aqua/Pellora.CSS", ".caption { color: blue }\n");
    PutFile(dir / "Skins/aqua/CREDITS.TXT", "Aqua\r\n");
    PutFile(dir / "Skins/Standard/pellora.css", "body { color: lime }\n");
    PutFile(dir / "Skins/Empty/credits.txt", "no sheet here\n");
    PutFile(dir / "Skins/Empty/pellora.css.bak", "body { color: red }\n");
    PutFile(dir / "Skins/loose.css", "body { color: red }\n");
    ForceDirectories(dir / "Skins/Odd/pellora.css"); // a folder, not a file
}

} // namespace

TEST(Skins, ANewListHoldsOnlyTheBuiltInSkinAndNoCurrentOne) {
    TSkins skins;
    ASSERT_EQ(skins.Count(), 1);
    EXPECT_EQ(skins.Item(0).Name, "Standard");
    EXPECT_EQ(skins.Item(0).Credits, "(anonymous)");
    EXPECT_EQ(skins.Item(0).Count(), 0);
    EXPECT_EQ(skins.ItemIndex(), -1);
    EXPECT_EQ(skins.Current(), nullptr);
    EXPECT_EQ(skins.CurrentName(), "");
    EXPECT_EQ(skins.SkinsFolder(), "");
    EXPECT_THROW(skins.Item(1), std::out_of_range);
}

TEST(Skins, ScanAddsEveryFolderWithAStyleSheetInNameOrder) {
    TempDir dir;
    MakeSkinsFolder(dir);
    TSkins skins;
    int changes = 0;
    skins.OnChange = [&](TSkins&) { ++changes; };
    skins.Scan(dir / "Skins");
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(skins.SkinsFolder(), dir / "Skins/");
    EXPECT_EQ(Names(skins), (std::vector<std::string>{"Standard", "aqua", "Harbrook", "Standard"}));

    // The sheet and credits are read, whatever the files' letter case.
    const TSkin& aqua = skins.Item(1);
    EXPECT_NE(aqua.FindRule(".caption"), nullptr);
    EXPECT_EQ(aqua.Credits, "Aqua\r\n");
    const TSkin& harbrook = skins.Item(2);
    TColor color = 0;
    EXPECT_TRUE(harbrook.GetColor("body", "color", color, 0));
    EXPECT_EQ(color, 0x0000FFu);
    EXPECT_EQ(harbrook.Credits, "Drawn by A.\r\nTiles by B.\r\n");
    EXPECT_EQ(skins.Item(3).Credits, "");
}

TEST(Skins, AMissingOrUnusableFolderLeavesOnlyTheBuiltInSkin) {
    TempDir dir;
    TSkins skins;
    skins.Scan(dir / "NoSuchFolder/");
    EXPECT_EQ(Names(skins), std::vector<std::string>{"Standard"});
    EXPECT_EQ(skins.SkinsFolder(), dir / "NoSuchFolder/");

    // A sheet too large to be one is not read; the skin is left out instead of failing.
    PutFile(dir / "Skins/Huge/pellora.css", std::string(MaxStyleSheetBytes + 1, ' '));
    PutFile(dir / "Skins/Fine/pellora.css", "body { color: red }\n");
    PutFile(dir / "Skins/Fine/credits.txt", std::string(1024 * 1024, 'x'));
    TSkins second;
    second.Scan(dir / "Skins/");
    EXPECT_EQ(Names(second), (std::vector<std::string>{"Standard", "Fine"}));
    EXPECT_EQ(second.Item(1).Credits, ""); // oversized credits are not read
}

TEST(Skins, SelectByNameMatchesExactlyAndFindsTheBuiltInSkinFirst) {
    TempDir dir;
    MakeSkinsFolder(dir);
    TSkins skins;
    skins.Scan(dir / "Skins/");
    std::vector<int> seen;
    skins.OnChange = [&](TSkins& sender) { seen.push_back(sender.ItemIndex()); };

    skins.SelectByName("Harbrook");
    EXPECT_EQ(skins.CurrentName(), "Harbrook");
    skins.SelectByName("harbrook"); // letter case differs: nothing changes
    skins.SelectByName("");
    EXPECT_EQ(skins.ItemIndex(), 2);
    skins.SelectByName("Standard");
    EXPECT_EQ(skins.ItemIndex(), 0);
    EXPECT_EQ(seen, (std::vector<int>{2, 0}));
}

TEST(Skins, SettingItemIndexAlwaysFiresEvenWhenUnchangedOrOutOfRange) {
    TSkins skins;
    int changes = 0;
    skins.SetItemIndex(0); // no handler yet: nothing to call
    skins.OnChange = [&](TSkins& sender) {
        EXPECT_EQ(&sender, &skins);
        ++changes;
    };
    skins.SetItemIndex(0);
    skins.SetItemIndex(0);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(skins.CurrentName(), "Standard");

    skins.SetItemIndex(7);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(skins.ItemIndex(), 7);
    EXPECT_EQ(skins.Current(), nullptr);
    EXPECT_EQ(skins.CurrentName(), "");
}

TEST(Skins, ApplyHandsTheSkinsFolderSheetAndCreditsToThePainter) {
    TempDir dir;
    MakeSkinsFolder(dir);
    TSkins skins;
    skins.Scan(dir / "Skins/");
    TRecordingPainter painter;

    skins.Apply(2, painter);
    EXPECT_EQ(painter.Folder, dir / "Skins/Harbrook");
    EXPECT_EQ(painter.Sheet, &skins.Item(2));
    EXPECT_EQ(painter.Credits, "Drawn by A.\r\nTiles by B.\r\n");

    skins.Apply(0, painter);
    EXPECT_EQ(painter.Folder, dir / "Skins/Standard");
    EXPECT_EQ(painter.Sheet->Count(), 0);
    EXPECT_EQ(painter.Credits, "(anonymous)");

    EXPECT_THROW(skins.Apply(-1, painter), EAssertionFailed);
    EXPECT_THROW(skins.Apply(skins.Count(), painter), EAssertionFailed);
    EXPECT_EQ(painter.Calls, 2);
}
