#include "core/Settings.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace pellora;
using pellora::test::GetFile;
using pellora::test::PutFile;
using pellora::test::TempDir;

TEST(Settings, KeysAreWrittenUnderTheirExactNames) {
    TempDir dir;
    IniFile prefs(dir / "p.ini");
    WriteKey(prefs, keys::Speech, false);
    WriteKey(prefs, keys::LastOwnId, 3);
    keys::WriteLastModified(prefs, "EN", "Tue, 01 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(GetFile(dir / "p.ini"),
              "[Sound]\r\nSpeach=0\r\n[Groups]\r\nLast Own ID=3\r\n[Internet]\r\n"
              "Last-Modified for messages-EN=Tue, 01 Dec 2026 10:00:00 GMT\r\n");
    EXPECT_EQ(keys::ReadLastModified(prefs, "EN"), "Tue, 01 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(keys::ReadLastModified(prefs, "DE"), "");
}

TEST(Settings, WindowStateIsKeptPerScreenSize) {
    TempDir dir;
    std::string state = dir / "pellora State.ini";
    WindowState fresh = ReadWindowState(state, 1024, 768, 129);
    EXPECT_EQ(fresh.Left, 825);
    EXPECT_EQ(fresh.Top, 0);
    EXPECT_EQ(fresh.Skin, "Harbrook");

    WriteWindowState(state, 1024, 768, {100, 200, "Night"});
    EXPECT_EQ(GetFile(state), "[Main1024x768]\r\nLeft=100\r\nTop=200\r\nSkin=Night\r\n");
    WindowState same = ReadWindowState(state, 1024, 768, 129);
    EXPECT_EQ(same.Left, 100);
    EXPECT_EQ(same.Top, 200);
    EXPECT_EQ(same.Skin, "Night");
    WindowState other = ReadWindowState(state, 1280, 1024, 129);
    EXPECT_EQ(other.Left, 1280 - 129 - 70);
    EXPECT_EQ(other.Top, 0);
    EXPECT_EQ(other.Skin, "Harbrook");
}
