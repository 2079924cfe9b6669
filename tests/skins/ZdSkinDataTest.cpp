#include "skins/ZdSkinData.h"
#include "LzhEncoder.h"
#include "SkinWriter.h"
#include "platform/Errors.h"
#include "platform/IniFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace pellora;
using pellora::test::PutFile;
using pellora::test::TempDir;

namespace {

const std::string Bitmap = "BM-five-frames";

std::string Container(const std::string& unpacked) {
    std::string file;
    for (int i = 0; i < 4; ++i)
        file.push_back(static_cast<char>(unpacked.size() >> (8 * i)));
    return file + LzhEncode(unpacked);
}

std::string SkinFile(const std::string& ini, bool withIni = true) {
    TSkinWriter writer;
    if (withIni)
        writer.Add("Skin.ini", ini);
    writer.Add("Button.bmp", Bitmap);
    writer.Add("empty.bmp", "");
    writer.Add("check.bmp", "BM-check");
    return writer.Build();
}

const char* const FullIni = "[Buttons]\r\n"
                            "LeftWidth=4\r\n"
                            "RightWidth=5\r\n"
                            "TopHeight=6\r\n"
                            "BottomHeight=0x07\r\n"
                            "Trans=1\r\n"
                            "Bitmap=C:\\Skins\\Mine\\BUTTON.bmp\r\n"
                            "CheckButton=check.bmp\r\n"
                            "RadioButton=radio.bmp\r\n"
                            "NormalColour=12\r\n"
                            "PressedColour=junk\r\n"
                            "RadioButtonFrame=2\r\n"
                            "NormalColour2=255,128,0\r\n"
                            "MouseOverColour2=255, 128, 0\r\n"
                            "PressedColour2=\r\n";

} // namespace

TEST(ZdSkinData, LoadsTheButtonsSection) {
    TempDir dir;
    PutFile(dir / "skin.skn", SkinFile(FullIni));
    TZdSkinData data;
    ASSERT_TRUE(data.Load(dir / "skin.skn"));
    EXPECT_TRUE(data.ErrorText().empty());
    const TZdDataSkinButton& b = data.Buttons();
    EXPECT_EQ(b.Name, "Buttons");
    EXPECT_EQ(b.LeftWidth, 4);
    EXPECT_EQ(b.RightWidth, 5);
    EXPECT_EQ(b.TopHeight, 6);
    EXPECT_EQ(b.BottomHeight, 7);
    EXPECT_EQ(b.Trans, 1);
    // The file name part of a Windows path, found whatever its letter case.
    EXPECT_EQ(b.Bitmap, Bitmap);
    EXPECT_EQ(b.CheckButton, "BM-check");
    EXPECT_EQ(b.RadioButton, ""); // no such entry
    EXPECT_EQ(b.NormalColour, 12);
    EXPECT_EQ(b.MouseOverColour, -1);
    EXPECT_EQ(b.PressedColour, -1); // not a number
    EXPECT_EQ(b.RadioButtonFrame, 2);
    EXPECT_EQ(b.CheckButtonFrame, 0);
    EXPECT_EQ(b.NormalColour2, RGBColor(255, 128, 0));
    // Blanks after the commas make empty fields: 255, (empty), 128.
    EXPECT_EQ(b.MouseOverColour2, RGBColor(255, 0, 128));
    EXPECT_EQ(b.PressedColour2, clBlack);
    EXPECT_EQ(data.FileImage(), SkinFile(FullIni));
    EXPECT_EQ(data.Content().IniName(), "skin.ini");
}

TEST(ZdSkinData, ImageKeysNeedALowerCaseBmpExtensionAndABitmapEntry) {
    TempDir dir;
    const std::pair<const char*, std::string> cases[] = {
        {"empty.bmp", ""},          // a 0-byte entry is an empty image
        {"Button.BMP", ""},         // upper-case extension
        {"button", ""},             // no extension
        {"C:\\skins\\", ""},        // no name part
        {"", ""},                   //
        {"button.bmp.txt", ""},     // extension is ".txt"
        {"sub/BUTTON.bmp", Bitmap}, // a '/' path works too
        {"\"button.bmp\"", Bitmap}, // quotes are dropped
        {"D:button.bmp", Bitmap},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        PutFile(dir / "skin.skn", SkinFile(std::string("[Buttons]\r\nBitmap=") + c.first + "\r\n"));
        TZdSkinData data;
        ASSERT_TRUE(data.Load(dir / "skin.skn"));
        EXPECT_EQ(data.Buttons().Bitmap, c.second);
    }
}

TEST(ZdSkinData, ColourTexts) {
    struct Case {
        const char* Text;
        std::optional<TColor> Colour;
    };
    const Case cases[] = {
        {"255,128,0", RGBColor(255, 128, 0)},
        {"255, 128, 0", RGBColor(255, 0, 128)},
        {"  10,20,30  ", RGBColor(10, 20, 30)},
        {"256,257,511", RGBColor(0, 1, 255)},              // modulo 256
        {"99999999999999999999,1,2", RGBColor(255, 1, 2)}, // 10^20 - 1; 256 divides 10^20
        {",,7", RGBColor(0, 0, 7)},                        // empty fields are 0
        {"1;2;3;4;5", RGBColor(1, 2, 3)},                  // any non-digit cuts
        {"-5,6", RGBColor(0, 5, 6)},                       // a sign is a cut too
        {"12", RGBColor(12, 0, 0)},                        // missing fields are 0
        {"red", RGBColor(0, 0, 0)},
        {"", std::nullopt},
        {"   ", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseColourText(c.Text), c.Colour) << c.Text;
}

TEST(ZdSkinData, MissingFileKeepsThePreviousDataAndSaysFalse) {
    TempDir dir;
    PutFile(dir / "skin.skn", SkinFile(FullIni));
    TZdSkinData data;
    ASSERT_TRUE(data.Load(dir / "skin.skn"));
    EXPECT_FALSE(data.Load(dir / "nothing.skn"));
    EXPECT_FALSE(data.Load(dir.Path())); // a folder is no file either
    EXPECT_EQ(data.Buttons().LeftWidth, 4);
    EXPECT_EQ(data.Buttons().Bitmap, Bitmap);
}

TEST(ZdSkinData, RefusedFilesKeepThePreviousData) {
    TempDir dir;
    PutFile(dir / "good.skn", SkinFile(FullIni));
    TSkinWriter writer;
    writer.Add("skin.ini", "[Buttons]\r\nLeftWidth=99\r\n");
    std::string unpacked = writer.BuildUnpacked();
    unpacked[0] = 0x1F; // version 19999 instead of 20000 (0x4E20)
    PutFile(dir / "old.skn", Container(unpacked));
    PutFile(dir / "junk.skn", "this is not a skin file at all");

    TZdSkinData data;
    std::vector<std::string> shown;
    data.OnMessage = [&](const std::string& text) { shown.push_back(text); };
    ASSERT_TRUE(data.Load(dir / "good.skn"));
    EXPECT_TRUE(shown.empty());

    EXPECT_TRUE(data.Load(dir / "old.skn")); // the file was found
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "This is Older Skin File\rPlease update to new version !");
    EXPECT_FALSE(data.ErrorText().empty());
    EXPECT_EQ(data.Buttons().LeftWidth, 4);
    EXPECT_EQ(data.Buttons().Bitmap, Bitmap);
    EXPECT_EQ(data.FileImage(), SkinFile(FullIni));

    EXPECT_TRUE(data.Load(dir / "junk.skn"));
    EXPECT_EQ(shown.size(), 1u); // only an older format is shown to the user
    EXPECT_EQ(data.Buttons().LeftWidth, 4);
    // Every reason names the file it is about.
    EXPECT_NE(data.ErrorText().find(dir / "junk.skn"), std::string::npos) << data.ErrorText();
    PutFile(dir / "greedy.skn", std::string("\x8D\x9B\xB2\xB6", 4) + "tiny");
    EXPECT_TRUE(data.Load(dir / "greedy.skn"));
    EXPECT_EQ(data.ErrorText(), "The skin file \"" + dir / "greedy.skn" +
                                    "\" declares 3065158541 bytes of content; at most 67108864 "
                                    "are accepted.");

    // A file far too large is refused without being read.
    std::string huge = dir / "huge.skn";
    PutFile(huge, "");
    ASSERT_EQ(::truncate(huge.c_str(), static_cast<off_t>(TSkinContent::MaxFileSize + 1)), 0);
    EXPECT_TRUE(data.Load(huge));
    EXPECT_NE(data.ErrorText().find("too large"), std::string::npos);
    EXPECT_EQ(data.Buttons().LeftWidth, 4);
}

TEST(ZdSkinData, SkinWithoutIniHasDefaultButtons) {
    TempDir dir;
    PutFile(dir / "a.skn", SkinFile(FullIni));
    PutFile(dir / "b.skn", SkinFile("", false));
    TZdSkinData data;
    ASSERT_TRUE(data.Load(dir / "a.skn"));
    ASSERT_TRUE(data.Load(dir / "b.skn"));
    EXPECT_FALSE(data.Content().HasIni());
    const TZdDataSkinButton& b = data.Buttons();
    EXPECT_EQ(b.LeftWidth, 0);
    EXPECT_EQ(b.Trans, 0);
    EXPECT_EQ(b.NormalColour, -1);
    EXPECT_EQ(b.Bitmap, "");
    EXPECT_EQ(b.NormalColour2, clBlack);
    EXPECT_EQ(data.Content().Reader().Count(), 3u);
}

TEST(SkinContent, GivesAnySectionsKeysWithoutReadingTheFileAgain) {
    TempDir dir;
    const std::string ini = "[Personality]\r\nLeft=frame_left.bmp\r\nLeftTopHeight=12\r\n"
                            "[VertScrollThumb]\r\nImage=check.bmp\r\n"
                            "[Colours]\r\nButtonFace=10,20,30\r\nhilight=1, 2\r\nMenu=\r\n";
    PutFile(dir / "skin.skn", SkinFile(ini));
    TSkinContent skin;
    ASSERT_EQ(skin.Load(dir / "skin.skn"), TSkinContent::TLoadResult::Loaded);
    EXPECT_EQ(skin.ReadInteger("personality", "LEFTTOPHEIGHT", 0), 12);
    EXPECT_EQ(skin.ReadInteger("VertScrollThumb", "FrameCount", 3), 3);
    EXPECT_EQ(skin.ReadImage("VertScrollThumb", "Image"), "BM-check");
    EXPECT_EQ(skin.ReadImage("Personality", "Left"), ""); // no such entry
    EXPECT_EQ(skin.ReadColour("Colours", "ButtonFace"), RGBColor(10, 20, 30));

    TSkinColours colours = ReadSkinColours(skin);
    EXPECT_EQ(colours[0], RGBColor(10, 20, 30)); // ButtonFace
    EXPECT_EQ(colours[4], RGBColor(1, 0, 2));    // Hilight
    EXPECT_EQ(colours[6], std::nullopt);         // Menu: empty keeps the system colour
    EXPECT_EQ(colours[14], std::nullopt);        // TitleTextActive: absent

    EXPECT_EQ(skin.Load(dir / "none.skn"), TSkinContent::TLoadResult::NoFile);
    EXPECT_EQ(skin.ReadInteger("Personality", "LeftTopHeight", 0), 12);
}

TEST(IniFileFromText, ReadsWithTheFileRulesAndRefusesWrites) {
    IniFile ini = IniFile::FromText("\xEF\xBB\xBF[Sec]\r\n; A=comment\nA = 0x10 \r"
                                    "B='quoted'\n[other]\nA=2\n[SEC]\nC=" +
                                        std::string(3000, 'c') + "\n",
                                    "skin.ini");
    EXPECT_TRUE(ini.IsInMemory());
    EXPECT_EQ(ini.FileName(), "skin.ini");
    EXPECT_EQ(ini.ReadInteger("sec", "a", 0), 16);
    EXPECT_EQ(ini.ReadString("Sec", "B", ""), "quoted");
    EXPECT_EQ(ini.ReadInteger("Other", "A", 0), 2);
    EXPECT_FALSE(ini.ValueExists("Sec", "; A"));
    EXPECT_EQ(ini.ReadString("Sec", "C", "").size(), IniFile::MaxValueLength);
    EXPECT_EQ(ini.ReadString("Sec", "Missing", " d "), "d");
    EXPECT_THROW(ini.WriteString("Sec", "A", "1"), EFileError);
    EXPECT_THROW(ini.DeleteKey("Sec", "A"), EFileError);
    EXPECT_EQ(ini.ReadInteger("sec", "a", 0), 16);
    // Same answers as the same text read from a file.
    TempDir dir;
    PutFile(dir / "same.ini", "[Sec]\nA = 0x10 \n");
    EXPECT_EQ(IniFile(dir / "same.ini").ReadInteger("sec", "a", 0), 16);
    EXPECT_FALSE(IniFile(dir / "same.ini").IsInMemory());
    EXPECT_EQ(IniFile::FromText("").ReadInteger("Sec", "A", 5), 5);
}
