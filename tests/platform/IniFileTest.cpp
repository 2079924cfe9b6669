#include "platform/IniFile.h"
#include "platform/Errors.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace pellora;
using pellora::test::GetFile;
using pellora::test::PutFile;
using pellora::test::TempDir;

TEST(IniFile, MissingFileReadsAllDefaultsAndWriteCreatesFileAndFolder) {
    TempDir dir;
    IniFile ini(dir / "a/b/prefs.ini");
    EXPECT_EQ(ini.ReadInteger("Timer", "Fixed Interval", 5), 5);
    EXPECT_TRUE(ini.ReadBool("Sound", "Speach", true));
    EXPECT_EQ(ini.ReadString("Internet", "Proxy Address", "none"), "none");
    EXPECT_FALSE(ini.ValueExists("Timer", "Random"));

    ini.WriteInteger("Timer", "Fixed Interval", 7);
    EXPECT_EQ(GetFile(dir / "a/b/prefs.ini"), "[Timer]\r\nFixed Interval=7\r\n");
    EXPECT_EQ(ini.ReadInteger("Timer", "Fixed Interval", 5), 7);
}

TEST(IniFile, IntegersReadDecimalAndHexAndFallBackToTheDefault) {
    TempDir dir;
    PutFile(dir / "p.ini", "[Timer]\nA=0x0A\nB=0X1f\nC=-12\nD=12abc\nE=\nF=0x\nG=0xFFFFFFFF\n"
                           "H=99999999999\nI= 42 \nJ=\"17\"\nK=+3\n");
    IniFile ini(dir / "p.ini");
    EXPECT_EQ(ini.ReadInteger("Timer", "A", 5), 10);
    EXPECT_EQ(ini.ReadInteger("Timer", "B", 5), 31);
    EXPECT_EQ(ini.ReadInteger("Timer", "C", 5), -12);
    EXPECT_EQ(ini.ReadInteger("Timer", "D", 5), 5);
    EXPECT_EQ(ini.ReadInteger("Timer", "E", 5), 5);
    EXPECT_EQ(ini.ReadInteger("Timer", "F", 5), 5);
    EXPECT_EQ(ini.ReadInteger("Timer", "G", 5), -1);
    EXPECT_EQ(ini.ReadInteger("Timer", "H", 5), 5);
    EXPECT_EQ(ini.ReadInteger("Timer", "I", 5), 42);
    EXPECT_EQ(ini.ReadInteger("Timer", "J", 5), 17);
    EXPECT_EQ(ini.ReadInteger("Timer", "K", 5), 3);
    EXPECT_EQ(ini.ReadInteger("Timer", "Missing", -8), -8);
}

TEST(IniFile, BooleansAreTrueWhenTheIntegerIsNotZero) {
    TempDir dir;
    PutFile(dir / "p.ini", "[S]\nOne=1\nZero=0\nTwo=2\nWord=yes\n");
    IniFile ini(dir / "p.ini");
    EXPECT_TRUE(ini.ReadBool("S", "One", false));
    EXPECT_FALSE(ini.ReadBool("S", "Zero", true));
    EXPECT_TRUE(ini.ReadBool("S", "Two", false));
    EXPECT_TRUE(ini.ReadBool("S", "Word", true));
    EXPECT_FALSE(ini.ReadBool("S", "Word", false));
    ini.WriteBool("S", "One", false);
    ini.WriteBool("S", "Zero", true);
    EXPECT_EQ(GetFile(dir / "p.ini"), "[S]\r\nOne=0\r\nZero=1\r\nTwo=2\r\nWord=yes\r\n");
}

TEST(IniFile, NamesMatchWithoutRegardToCase) {
    TempDir dir;
    PutFile(dir / "p.ini", "[tImEr]\r\nfixed INTERVAL=9\r\n");
    IniFile ini(dir / "p.ini");
    EXPECT_EQ(ini.ReadInteger("Timer", "Fixed Interval", 5), 9);
    ini.WriteInteger("TIMER", "Fixed interval", 11);
    // The existing line is replaced; its section keeps its spelling.
    EXPECT_EQ(GetFile(dir / "p.ini"), "[tImEr]\r\nFixed interval=11\r\n");
}

TEST(IniFile, StringsLoseBlanksAndOnePairOfMatchingQuotes) {
    TempDir dir;
    PutFile(dir / "p.ini", "[I]\nA=  spaced out  \nB=\"quoted\"\nC='single'\nD=\"mismatch'\n"
                           "E=\"\"twice\"\"\nF=\"\n");
    IniFile ini(dir / "p.ini");
    EXPECT_EQ(ini.ReadString("I", "A", ""), "spaced out");
    EXPECT_EQ(ini.ReadString("I", "B", ""), "quoted");
    EXPECT_EQ(ini.ReadString("I", "C", ""), "single");
    EXPECT_EQ(ini.ReadString("I", "D", ""), "\"mismatch'");
    EXPECT_EQ(ini.ReadString("I", "E", ""), "\"twice\"");
    EXPECT_EQ(ini.ReadString("I", "F", ""), "\"");

    ini.WriteString("I", "G", "  padded  ");
    EXPECT_EQ(ini.ReadString("I", "G", ""), "padded");
}

TEST(IniFile, LongValuesAreCutAt2047BytesOnACharacterBoundary) {
    TempDir dir;
    IniFile ini(dir / "p.ini");
    ini.WriteString("S", "Long", std::string(3000, 'x'));
    EXPECT_EQ(ini.ReadString("S", "Long", "").size(), 2047u);
    // 2046 ASCII bytes then a two-byte character straddling the limit: it is dropped whole.
    ini.WriteString("S", "Utf", std::string(2046, 'y') + "\xC3\xA9" + "z");
    EXPECT_EQ(ini.ReadString("S", "Utf", ""), std::string(2046, 'y'));
}

TEST(IniFile, WritesKeepEveryOtherLineCommentAndSection) {
    TempDir dir;
    PutFile(dir / "p.ini", "; my settings\n[Timer]\nRandom=1\n\n[Sound]\nSound=0\n# note\n"
                           "[Other]\nx=y\n");
    IniFile ini(dir / "p.ini");
    ini.WriteInteger("Timer", "Fixed Interval", 12); // new key goes after the section's last key
    ini.WriteBool("Sound", "Sound", true);           // replaced in place
    ini.WriteString("Internet", "Proxy Address", "localhost:3128"); // new section at the end
    EXPECT_EQ(GetFile(dir / "p.ini"),
              "; my settings\r\n[Timer]\r\nRandom=1\r\nFixed Interval=12\r\n"
              "\r\n[Sound]\r\nSound=1\r\n# note\r\n[Other]\r\nx=y\r\n"
              "[Internet]\r\nProxy Address=localhost:3128\r\n");
    ini.DeleteKey("timer", "random");
    EXPECT_FALSE(ini.ValueExists("Timer", "Random"));
    EXPECT_EQ(ini.ReadInteger("Timer", "Fixed Interval", 0), 12);
}

TEST(IniFile, KeysOutsideTheirSectionAndCommentedKeysAreNotRead) {
    TempDir dir;
    PutFile(dir / "p.ini", "Orphan=1\n[A]\n;Hidden=2\nKey=3\n[B]\nKey=4\n");
    IniFile ini(dir / "p.ini");
    EXPECT_EQ(ini.ReadInteger("A", "Orphan", 0), 0);
    EXPECT_EQ(ini.ReadInteger("A", "Hidden", 0), 0);
    EXPECT_EQ(ini.ReadInteger("A", "Key", 0), 3);
    EXPECT_EQ(ini.ReadInteger("B", "Key", 0), 4);
}

TEST(IniFile, ALineBreakInAValueCannotForgeAnotherKey) {
    TempDir dir;
    IniFile ini(dir / "p.ini");
    ini.WriteString("Internet", "Proxy Address", "host\r\n[Timer]\r\nFixed Interval=0");
    EXPECT_EQ(ini.ReadInteger("Timer", "Fixed Interval", 5), 5);
    EXPECT_EQ(ini.ReadString("Internet", "Proxy Address", ""), "host  [Timer]  Fixed Interval=0");
}

TEST(IniFile, AByteOrderMarkBeforeTheFirstSectionIsTolerated) {
    TempDir dir;
    PutFile(dir / "p.ini", "\xEF\xBB\xBF[Timer]\nRandom=1\n");
    IniFile ini(dir / "p.ini");
    EXPECT_TRUE(ini.ReadBool("Timer", "Random", false));
}

TEST(IniFile, AWriteThatCannotCreateTheFolderThrowsAClearError) {
    TempDir dir;
    PutFile(dir / "blocker", "a file where a folder should be");
    IniFile ini(dir / "blocker/p.ini");
    try {
        ini.WriteInteger("A", "K", 2);
        FAIL() << "no error";
    } catch (const EFileError& e) {
        EXPECT_NE(std::string(e.what()).find("blocker"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ini.ReadInteger("A", "K", 0), 0);
    EXPECT_EQ(GetFile(dir / "blocker"), "a file where a folder should be");
}
