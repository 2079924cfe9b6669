// The engine's settings file and its text and sound helpers, without synthesis.
#include "murmur/MurmurSettings.h"
#include "murmur/MurmurText.h"
#include "platform/FileUtil.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace pellora {
namespace {

using test::GetFile;
using test::LocaleEnvironment;
using test::PutFile;
using test::ScopedEnv;
using test::TempDir;

std::string Join(const std::vector<std::string_view>& pieces) {
    std::string text;
    for (std::string_view piece : pieces)
        text += piece;
    return text;
}

TEST(SplitSpeechText, ShortMessagesStayWhole) {
    const std::string text = "Are you dreaming? Look at your hands.";
    EXPECT_EQ(SplitSpeechText(text, 300), std::vector<std::string_view>{text});
    EXPECT_TRUE(SplitSpeechText("", 300).empty());
    EXPECT_TRUE(SplitSpeechText("  \r\n\t ", 300).empty());
}

TEST(SplitSpeechText, LongTextIsCutAfterSentencesAndAtBlanksLosingNothing) {
    const std::string text = "This sentence is long enough. Short. And this one has no end at "
                             "all but goes on and on without a stop";
    auto pieces = SplitSpeechText(text, 40);
    ASSERT_GE(pieces.size(), 3u);
    EXPECT_EQ(pieces[0], "This sentence is long enough. ");
    // "Short. " is under a third of the limit, so it does not end a piece on its own.
    EXPECT_EQ(pieces[1].substr(0, 7), "Short. ");
    for (std::string_view piece : pieces) {
        EXPECT_LE(piece.size(), 40u);
        EXPECT_TRUE(piece.back() == ' ' || piece.data() + piece.size() == text.data() + text.size())
            << "cut inside a word: " << piece;
    }
    EXPECT_EQ(Join(pieces), text);
}

TEST(SplitSpeechText, RunWithoutBlanksIsCutBetweenCharacters) {
    std::string accents;
    for (int i = 0; i < 50; ++i)
        accents += "\xC3\xA9"; // é
    auto pieces = SplitSpeechText(accents, 25);
    EXPECT_EQ(Join(pieces), accents);
    for (std::string_view piece : pieces) {
        EXPECT_LE(piece.size(), 25u);
        EXPECT_TRUE(IsValidUtf8(piece)) << "cut inside a character";
    }
    // Bytes that only look like UTF-8 continuations still make progress.
    std::string latin1(100, '\xE9');
    pieces = SplitSpeechText(latin1, 10);
    EXPECT_EQ(Join(pieces), latin1);
    for (std::string_view piece : pieces)
        EXPECT_FALSE(piece.empty());
    std::string continuations(30, '\x80');
    EXPECT_EQ(Join(SplitSpeechText(continuations, 4)), continuations);
}

TEST(IsValidUtf8, AcceptsUtf8AndRejectsEverythingElse) {
    for (const char* good : {"", "plain", "caf\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"})
        EXPECT_TRUE(IsValidUtf8(good)) << good;
    for (const char* bad : {"caf\xE9", "\xC3", "x\xE2\x82", "\x80", "\xC0\xAF", "\xE0\x80\xAF",
                            "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF"})
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
}

TEST(MurmurSettings, MissingFileIsWrittenWithTheDefaults) {
    TempDir dir;
    std::string file = dir / "conf/Murmur.ini";
    TMurmurSettings settings = LoadMurmurSettings(file);
    EXPECT_TRUE(FileExists(file));
    EXPECT_TRUE(settings.Enabled);
    EXPECT_EQ(settings.Voice, "");
    EXPECT_EQ(settings.Rate, 175);
    EXPECT_EQ(settings.Volume, 100);
    EXPECT_EQ(settings.Output, TMurmurOutput::Device);
    EXPECT_EQ(settings.WaveFile, dir / "conf/Murmur.wav");
    EXPECT_EQ(settings.StatusFile, "");
    EXPECT_EQ(settings.Problem, "");
    EXPECT_EQ(settings.FileName, file);
    // The written file reads back the same and is left alone from then on.
    std::string written = GetFile(file);
    EXPECT_NE(written.find("\r\nOutput=Device\r\n"), std::string::npos);
    LoadMurmurSettings(file);
    EXPECT_EQ(GetFile(file), written);
}

TEST(MurmurSettings, ValuesAreReadClampedAndChecked) {
    TempDir dir;
    std::string file = dir / "Murmur.ini";
    auto load = [&](const std::string& keys) {
        PutFile(file, "[murmur]\r\n" + keys);
        return LoadMurmurSettings(file);
    };
    TMurmurSettings s = load("Enabled=0\r\nVoice= en-us \r\nRate=300\r\nVolume=50\r\n"
                             "Output=file\r\nWaveFile=/tmp/x.wav\r\nStatusFile=/tmp/s.ini\r\n");
    EXPECT_FALSE(s.Enabled);
    EXPECT_EQ(s.Voice, "en-us");
    EXPECT_EQ(s.Rate, 300);
    EXPECT_EQ(s.Volume, 50);
    EXPECT_EQ(s.Output, TMurmurOutput::File);
    EXPECT_EQ(s.WaveFile, "/tmp/x.wav");
    EXPECT_EQ(s.StatusFile, "/tmp/s.ini");
    EXPECT_EQ(s.Problem, "");
    EXPECT_EQ(GetFile(file).substr(0, 10), "[murmur]\r\n"); // not rewritten

    EXPECT_EQ(load("Rate=10\r\nVolume=-5\r\n").Rate, MurmurRateMinimum);
    EXPECT_EQ(load("Rate=10\r\nVolume=-5\r\n").Volume, 0);
    EXPECT_EQ(load("Rate=9999\r\nVolume=999\r\n").Rate, MurmurRateMaximum);
    EXPECT_EQ(load("Rate=9999\r\nVolume=999\r\n").Volume, MurmurVolumeMaximum);
    EXPECT_EQ(load("Rate=fast\r\n").Rate, 175);
    EXPECT_EQ(load("Output=MEMORY\r\n").Output, TMurmurOutput::Memory);
    EXPECT_EQ(load("Output=\r\n").Output, TMurmurOutput::Device);
    // Problems reach the user through the engine; see the engine's tests for their texts.
    EXPECT_NE(load("Output=Speaker\r\n").Problem, "");
    EXPECT_EQ(load("Voice=de+f2\r\n").Problem, "");
    EXPECT_NE(load("Voice=en us\r\n").Problem, "");
    EXPECT_NE(load("Voice=" + std::string(41, 'a') + "\r\n").Problem, "");
}

TEST(MurmurSettings, FileLivesInTheConfigurationFolder) {
    ScopedEnv env;
    env.Set("HOME", "/home/someone");
    env.Set("XDG_CONFIG_HOME", "/etc/cfg");
    EXPECT_EQ(MurmurSettingsFile(), "/etc/cfg/Harbrook/Pellora 3/Murmur.ini");
    env.Set("XDG_CONFIG_HOME", "relative/cfg"); // not absolute: ignored
    EXPECT_EQ(MurmurSettingsFile(), "/home/someone/.config/Harbrook/Pellora 3/Murmur.ini");
    env.Set("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(MurmurSettingsFile(), "/home/someone/.config/Harbrook/Pellora 3/Murmur.ini");
}

TEST(MurmurSettings, DesktopVoiceIsTheLocalesLanguage) {
    {
        LocaleEnvironment locale("de_DE.UTF-8", "fr_FR", "it_IT");
        EXPECT_EQ(DesktopVoice(), "de");
    }
    {
        LocaleEnvironment locale(nullptr, "fr_FR", "it_IT");
        EXPECT_EQ(DesktopVoice(), "fr");
    }
    {
        LocaleEnvironment locale("", "", "pt_BR@latin");
        EXPECT_EQ(DesktopVoice(), "pt");
    }
    for (const char* odd : {"C", "POSIX", "C.UTF-8", "../../etc", "english_GB"}) {
        LocaleEnvironment locale(nullptr, nullptr, odd);
        EXPECT_EQ(DesktopVoice(), "en") << odd;
    }
    LocaleEnvironment none(nullptr, nullptr, nullptr);
    EXPECT_EQ(DesktopVoice(), "en");
}

} // namespace
} // namespace pellora
