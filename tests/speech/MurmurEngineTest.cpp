// The real engine library with real espeak-ng synthesis. Sound devices are replaced through
// the sound libraries' own variables: none at all, or ALSA's null device. The engine lives as
// long as the process, so each case starts it again with the settings it needs.
#include "core/SpeechDll.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

// ALSA keeps a parameter block when a device fails to open (inside its own library, once per
// failed open); the leak check of sanitised builds must not count that against the engine.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libasound.so\n";
}

namespace pellora {
namespace {

using test::GetFile;
using test::PutFile;
using test::ScopedEnv;
using test::TempDir;

const std::string ErrorPrefix = "Error in the speech engine:\r\n";
const std::string Question = "Are you dreaming right now?";
const std::string Story =
    "Look at your hands and count your fingers. Read a line of text, look away and read it "
    "again. Does the text stay the same? Try to push a finger through the palm of your hand. "
    "Remember where you were an hour ago and how you got here. Then breathe slowly and look "
    "around you once more, noticing the light, the colours and the sounds.";

struct TWave {
    int Format = 0, Channels = 0, Rate = 0, Bits = 0;
    std::vector<std::int16_t> Samples;
};

std::uint32_t Le(const std::string& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

std::optional<TWave> ParseWave(const std::string& bytes) {
    if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") != 0 ||
        bytes.compare(8, 8, "WAVEfmt ") != 0 || bytes.compare(36, 4, "data") != 0 ||
        Le(bytes, 4, 4) != bytes.size() - 8 || Le(bytes, 40, 4) != bytes.size() - 44)
        return std::nullopt;
    TWave wave;
    wave.Format = static_cast<int>(Le(bytes, 20, 2));
    wave.Channels = static_cast<int>(Le(bytes, 22, 2));
    wave.Rate = static_cast<int>(Le(bytes, 24, 4));
    wave.Bits = static_cast<int>(Le(bytes, 34, 2));
    for (std::size_t at = 44; at + 1 < bytes.size(); at += 2)
        wave.Samples.push_back(static_cast<std::int16_t>(Le(bytes, at, 2)));
    return wave;
}

// Polls until the condition holds or the limit passes (the engine speaks in the background).
bool WaitFor(const std::function<bool()>& condition, int seconds = 60) {
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class MurmurEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        // No sound server, and an ALSA whose only device is one that does not exist.
        Env.Set("PULSE_SERVER", "unix:" + Dir / "no-pulse-here");
        Env.Set("ALSA_CONFIG_PATH", Dir / "alsa.conf");
        PutFile(Dir / "alsa.conf", "pcm.!default {\n type hw\n card 31\n}\n");
        Env.Set("ESPEAK_DATA_PATH", nullptr);
        Env.Set("LC_ALL", "en_GB.UTF-8");
        ::unlink(SettingsFile.c_str());
    }

    void WriteSettings(const std::string& keys) {
        PutFile(SettingsFile, "[Murmur]\r\n" + keys + "StatusFile=" + StatusFile + "\r\n");
    }

    std::unique_ptr<TSpeechDll> Load() {
        Errors.clear();
        Warnings.clear();
        return std::make_unique<TSpeechDll>(
            true, MURMUR_LIBRARY, [this](const std::string& text) { Warnings.push_back(text); },
            [this](const ESpeech& error) { Errors.push_back(error.what()); });
    }

    std::string Status(const char* key) const {
        return IniFile(StatusFile).ReadString("Last Message", key, "");
    }
    int StatusNumber(const char* key) const {
        return IniFile(StatusFile).ReadInteger("Last Message", key, -1);
    }
    // Waits until the engine has dealt with this many messages since it was started.
    bool WaitForMessages(int count) {
        return WaitFor([&] {
            return FileExists(StatusFile) &&
                   StatusNumber("Spoken") + StatusNumber("Replaced") >= count;
        });
    }

    // Speaks the text to memory and gives the number of samples it made.
    int SamplesFor(const std::string& text, const std::string& settings = "") {
        WriteSettings("Output=Memory\r\n" + settings);
        auto speech = Load();
        ::unlink(StatusFile.c_str()); // anything earlier is reported before the start ends
        EXPECT_TRUE(speech->SpeechEnabled()) << (Errors.empty() ? "" : Errors[0]);
        speech->SpeakText(text);
        EXPECT_TRUE(WaitForMessages(1));
        EXPECT_EQ(Status("Result"), "OK");
        return StatusNumber("Samples");
    }

    // Runs the cases in a new process of this program, where the engine starts from scratch.
    void InFreshProcess(const std::function<void()>& cases) {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        EXPECT_EXIT(
            {
                ::dup2(STDERR_FILENO, STDOUT_FILENO); // failures show in the parent's report
                cases();
                test::RemoveTree(test::TestRoot());
                std::exit(::testing::Test::HasFailure() ? 1 : 0);
            },
            ::testing::ExitedWithCode(0), "");
    }

    void DeviceCases() {
        // The first start writes the settings file with every key, speaking through the device.
        auto speech = Load();
        EXPECT_TRUE(FileExists(SettingsFile));
        EXPECT_EQ(IniFile(SettingsFile).ReadString("Murmur", "Output", ""), "Device");
        EXPECT_EQ(IniFile(SettingsFile).ReadString("Murmur", "Enabled", ""), "1");
        EXPECT_FALSE(speech->SpeechEnabled());
        ASSERT_EQ(Errors.size(), 1u);
        EXPECT_EQ(Errors[0].rfind(ErrorPrefix + "No sound device could be opened for speech (", 0),
                  0u)
            << Errors[0];
        std::string advice = "set Output=Memory or Output=File in \"" + SettingsFile + "\".";
        EXPECT_EQ(Errors[0].substr(Errors[0].size() - advice.size()), advice);
        speech.reset();

        // With a device that takes the sound, speaking goes through. (A file of another name:
        // the sound library reads its configuration again only then.)
        Env.Set("ALSA_CONFIG_PATH", Dir / "alsa-null.conf");
        PutFile(Dir / "alsa-null.conf", "pcm.!default {\n type null\n}\n");
        WriteSettings("Output=Device\r\n");
        speech = Load();
        ASSERT_TRUE(speech->SpeechEnabled()) << (Errors.empty() ? "" : Errors[0]);
        speech->SpeakText(Question);
        ASSERT_TRUE(WaitForMessages(1));
        EXPECT_EQ(Status("Result"), "OK");
        EXPECT_EQ(Status("Output"), "Device");
        speech.reset();

        // Memory output after the device works; the device cannot be had back.
        WriteSettings("Output=Memory\r\n");
        EXPECT_TRUE(Load()->SpeechEnabled());
        WriteSettings("Output=Device\r\n");
        speech = Load();
        EXPECT_FALSE(speech->SpeechEnabled());
        EXPECT_EQ(Errors, std::vector<std::string>{
                              ErrorPrefix +
                              "The sound device was given up for another speech output and "
                              "cannot be taken up again while Pellora runs; restart Pellora to "
                              "speak through it."});
    }

    TempDir Dir;
    ScopedEnv Env;
    std::string SettingsFile =
        std::string(std::getenv("XDG_CONFIG_HOME")) + "/Harbrook/Pellora 3/Murmur.ini";
    std::string StatusFile = Dir / "status.ini";
    std::vector<std::string> Errors;
    std::vector<std::string> Warnings;
};

TEST_F(MurmurEngineTest, FileOutputHoldsRealSpeech) {
    std::string waveFile = Dir / "spoken.wav";
    WriteSettings("Output=File\r\nWaveFile=" + waveFile + "\r\n");
    auto speech = Load();
    ASSERT_TRUE(Errors.empty()) << Errors[0];
    EXPECT_TRUE(Warnings.empty());
    ASSERT_TRUE(speech->SpeechEnabled());
    speech->SpeakText(Question);
    ASSERT_TRUE(WaitForMessages(1));
    EXPECT_EQ(Status("Result"), "OK");
    EXPECT_EQ(Status("Text"), Question);
    EXPECT_EQ(Status("Output"), "File");

    std::optional<TWave> wave = ParseWave(GetFile(waveFile));
    ASSERT_TRUE(wave) << "not a well-formed WAV file";
    EXPECT_EQ(wave->Format, 1);
    EXPECT_EQ(wave->Channels, 1);
    EXPECT_EQ(wave->Bits, 16);
    EXPECT_EQ(wave->Rate, StatusNumber("SampleRate"));
    EXPECT_EQ(static_cast<int>(wave->Samples.size()), StatusNumber("Samples"));
    // A short question lasts about one to three seconds.
    double seconds = static_cast<double>(wave->Samples.size()) / wave->Rate;
    EXPECT_GT(seconds, 0.6);
    EXPECT_LT(seconds, 6.0);
    // Speech, not silence or a constant: loud peaks, real energy, many zero crossings.
    int peak = 0, crossings = 0;
    double energy = 0;
    for (std::size_t i = 0; i < wave->Samples.size(); ++i) {
        int sample = wave->Samples[i];
        peak = std::max(peak, std::abs(sample));
        energy += static_cast<double>(sample) * sample;
        if (i > 0 && (sample < 0) != (wave->Samples[i - 1] < 0))
            ++crossings;
    }
    EXPECT_EQ(peak, StatusNumber("Peak"));
    EXPECT_GT(peak, 3000);
    EXPECT_GT(std::sqrt(energy / static_cast<double>(wave->Samples.size())), 300.0);
    EXPECT_GT(crossings, 200);
}

TEST_F(MurmurEngineTest, MemoryOutputSpeaksWithoutDeviceOrFile) {
    WriteSettings("Output=Memory\r\n");
    auto speech = Load();
    ASSERT_TRUE(speech->SpeechEnabled()) << (Errors.empty() ? "" : Errors[0]);
    speech->SpeakText(Question);
    ASSERT_TRUE(WaitForMessages(1));
    EXPECT_EQ(Status("Result"), "OK");
    int rate = StatusNumber("SampleRate");
    EXPECT_GT(StatusNumber("Samples"), rate * 6 / 10);
    EXPECT_GT(StatusNumber("Peak"), 3000);
    EXPECT_GT(std::stod(Status("FirstSampleMs")), 0.0);
    EXPECT_FALSE(PathExists(ExtractFilePath(SettingsFile) + "Murmur.wav"));
}

TEST_F(MurmurEngineTest, LengthOfSpeechFollowsTextAndRate) {
    int question = SamplesFor(Question);
    // The story is cut into pieces for speaking; every piece must be heard.
    int story = SamplesFor(Story);
    EXPECT_GT(story, 6 * question);
    int slow = SamplesFor(Question, "Rate=80\r\n");
    int fast = SamplesFor(Question, "Rate=9999\r\n"); // clamped to the fastest rate
    EXPECT_GT(slow, 2 * fast);
    EXPECT_GT(fast, 0);
    // Text in an older 8-bit encoding is spoken, not dropped.
    EXPECT_GT(SamplesFor("Tr\xE4umst du gerade? \xC4rger \xFC"
                         "ber nichts."),
              question / 2);
}

TEST_F(MurmurEngineTest, NewerMessageReplacesTheWaitingOne) {
    WriteSettings("Output=Memory\r\n");
    auto speech = Load();
    ASSERT_TRUE(speech->SpeechEnabled());
    speech->SpeakText(Story);
    speech->SpeakText("Second message.");
    speech->SpeakText("Third message.");
    ASSERT_TRUE(WaitForMessages(3));
    EXPECT_EQ(Status("Text"), "Third message.");
    EXPECT_EQ(Status("Result"), "OK");
    EXPECT_GE(StatusNumber("Spoken"), 1);
    EXPECT_EQ(StatusNumber("Spoken") + StatusNumber("Replaced"), 3);
}

TEST_F(MurmurEngineTest, SpeechSwitchedOffInItsSettingsIsOff) {
    WriteSettings("Enabled=0\r\nOutput=Memory\r\n");
    auto speech = Load();
    EXPECT_TRUE(speech->Initialized());
    EXPECT_FALSE(speech->SpeechEnabled());
    EXPECT_TRUE(Errors.empty());
}

TEST_F(MurmurEngineTest, UnusableSettingsAreReportedWhenCreated) {
    struct Case {
        std::string Settings;
        std::string Error;
    };
    const Case cases[] = {
        {"Output=Speaker\r\n", "The speech output \"Speaker\" is unknown; set Output to Device, "
                               "Memory or File in " +
                                   SettingsFile + "."},
        {"Output=Memory\r\nVoice=xx-nothing\r\n", "The voice \"xx-nothing\" is not available."},
        {"Output=Memory\r\nVoice=../../etc/passwd\r\n",
         "The voice name \"../../etc/passwd\" in " + SettingsFile + " is not valid."},
    };
    for (const Case& c : cases) {
        WriteSettings(c.Settings);
        auto speech = Load();
        EXPECT_TRUE(speech->Initialized());
        EXPECT_FALSE(speech->SpeechEnabled()) << c.Settings;
        ASSERT_EQ(Errors.size(), 1u) << c.Settings;
        EXPECT_EQ(Errors[0], ErrorPrefix + c.Error);
        EXPECT_EQ(ErrorPrefix + speech->LastError(), Errors[0]);
    }
}

// espeak-ng loads its data and opens the sound device once per process, and never opens the
// device again after giving it up, so these cases run in a process of their own.
TEST_F(MurmurEngineTest, DeviceOutputNeedsADevice) {
    InFreshProcess([&] { DeviceCases(); });
}

TEST_F(MurmurEngineTest, MissingSpeechDataIsReported) {
    InFreshProcess([&] {
        TempDir emptyData;
        Env.Set("ESPEAK_DATA_PATH", emptyData.Path());
        WriteSettings("Output=Memory\r\n");
        auto speech = Load();
        EXPECT_FALSE(speech->SpeechEnabled());
        ASSERT_EQ(Errors.size(), 1u);
        std::string expected = ErrorPrefix + "The speech data could not be loaded: ";
        EXPECT_EQ(Errors[0].substr(0, expected.size()), expected);
        EXPECT_GT(Errors[0].size(), expected.size()) << "no reason given";
    });
}

TEST_F(MurmurEngineTest, FailureInTheBackgroundIsReportedByTheNextSpeak) {
    PutFile(Dir / "plain-file", "not a folder");
    WriteSettings("Output=File\r\nWaveFile=" + Dir / "plain-file/spoken.wav\r\n");
    auto speech = Load();
    ASSERT_TRUE(speech->SpeechEnabled());
    speech->SpeakText(Question); // queued: the failure comes later
    ASSERT_TRUE(WaitForMessages(1));
    EXPECT_EQ(Status("Result").rfind("The sound file could not be written: ", 0), 0u);
    try {
        speech->SpeakText(Question);
        ADD_FAILURE() << "the failure was not reported";
    } catch (const ESpeech& e) {
        EXPECT_EQ(
            std::string(e.what()).rfind(ErrorPrefix + "The sound file could not be written: ", 0),
            0u)
            << e.what();
    }
    // Told once; the next message is taken again.
    EXPECT_NO_THROW(speech->SpeakText(Question));
}

TEST_F(MurmurEngineTest, StartingAgainWhileSpeakingCutsShortAndChangesOutput) {
    std::string waveFile = Dir / "again.wav";
    for (int round = 0; round < 3; ++round) {
        WriteSettings("Output=Memory\r\n");
        auto speech = Load();
        ASSERT_TRUE(speech->SpeechEnabled());
        // What was being said when the engine was started again was stopped, not finished
        // (it lasts a minute and takes far longer to make than the restart).
        if (round > 0 && FileExists(StatusFile)) {
            EXPECT_EQ(Status("Result"), "Stopped");
        }
        ::unlink(StatusFile.c_str());
        speech->SpeakText(Story + " " + Story + " " + Story);
        speech->SpeakText(Story);
        speech.reset(); // the engine goes on until it is started again
    }
    WriteSettings("Output=File\r\nWaveFile=" + waveFile + "\r\n");
    auto speech = Load();
    ::unlink(StatusFile.c_str());
    ASSERT_TRUE(speech->SpeechEnabled());
    speech->SpeakText(Question);
    ASSERT_TRUE(WaitForMessages(1));
    EXPECT_EQ(Status("Text"), Question);
    std::optional<TWave> wave = ParseWave(GetFile(waveFile));
    ASSERT_TRUE(wave);
    EXPECT_GT(wave->Samples.size(), static_cast<std::size_t>(wave->Rate) / 2);
    EXPECT_LT(wave->Samples.size(), static_cast<std::size_t>(wave->Rate) * 6);
}

} // namespace
} // namespace pellora
