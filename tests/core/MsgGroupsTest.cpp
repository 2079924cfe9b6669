#include "core/MsgGroups.h"
#include "platform/FileUtil.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace pellora;
using pellora::test::GetFile;
using pellora::test::PutFile;
using pellora::test::TempDir;

namespace {

TMsgGroups LoadedWith(const TempDir& dir, const std::string& prefs) {
    PutFile(dir / "p.ini", prefs);
    TMsgGroups groups;
    groups.Load(dir / "p.ini");
    return groups;
}

} // namespace

TEST(MsgGroups, OnlyASixCharacterValueReplacesTheDefault) {
    TempDir dir;
    EXPECT_EQ(LoadedWith(dir, "").CheckedGroupIds(), (std::vector<std::int32_t>{1}));
    EXPECT_EQ(LoadedWith(dir, "[Groups]\r\nChecked Groups=/TTTT/\r\n").CheckedGroupIds(),
              (std::vector<std::int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(LoadedWith(dir, "[groups]\r\nchecked groups=TTTT\r\n").CheckedGroupIds(),
              (std::vector<std::int32_t>{1}));
    EXPECT_EQ(LoadedWith(dir, "[Groups]\r\nChecked Groups=/ T  /\r\n").CheckedGroupIds(),
              (std::vector<std::int32_t>{2}));
    EXPECT_EQ(LoadedWith(dir, "[Groups]\r\nChecked Groups=/    /\r\n").CheckedGroupIds(),
              (std::vector<std::int32_t>{}));
}

TEST(MsgGroups, SaveKeepsEveryCharacterThatSetCheckedDidNotRewrite) {
    TempDir dir;
    TMsgGroups groups = LoadedWith(dir, "[Groups]\r\nChecked Groups=#tx-T*\r\n");
    EXPECT_EQ(groups.CheckedGroupIds(), (std::vector<std::int32_t>{4})); // only "T" counts
    groups.SetChecked(0, true);
    groups.SetChecked(3, false);
    groups.Save();
    EXPECT_EQ(GetFile(dir / "p.ini"), "[Groups]\r\nChecked Groups=#Tx- *\r\n");
    TMsgGroups again;
    again.Load(dir / "p.ini");
    EXPECT_EQ(again.CheckedGroupIds(), (std::vector<std::int32_t>{1}));
}

TEST(MsgGroups, ANeverLoadedObjectHasNoTicksAndWritesNothing) {
    TMsgGroups groups;
    EXPECT_TRUE(groups.CheckedGroupIds().empty());
    auto before = ListFolder(".");
    groups.SetChecked(1, true);
    EXPECT_EQ(groups.CheckedGroupIds(), (std::vector<std::int32_t>{2}));
    groups.Save();
    EXPECT_EQ(ListFolder("."), before);
    EXPECT_TRUE(groups.IniFile.empty());
}
