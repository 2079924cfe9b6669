#include "core/SpeechDll.h"
#include "platform/FileUtil.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace pellora {
namespace {

using test::GetFile;
using test::PutFile;
using test::ScopedEnv;
using test::TempDir;

const std::string ErrorPrefix = "Error in the speech engine:\r\n";
const std::string NoInfo = "Something went wrong with the Murmur library, but unfortunately no "
                           "error information could be retrieved.";

std::string FakeEngine(const std::string& variant) {
    return std::string(FAKE_ENGINE_DIR) + "libfakemurmur_" + variant + ".so";
}

class SpeechDllTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name :
             {"FAKE_MURMUR_FLAG", "FAKE_MURMUR_ENABLED_RESULT", "FAKE_MURMUR_SPEAK_RESULT",
              "FAKE_MURMUR_ERROR", "FAKE_MURMUR_THROW"})
            Env.Set(name, nullptr);
        Env.Set("FAKE_MURMUR_LOG", LogFile);
    }

    std::unique_ptr<TSpeechDll> Load(const std::string& path, bool silent = true,
                                     std::uintptr_t window = 0) {
        return std::make_unique<TSpeechDll>(
            silent, path, [this](const std::string& text) { Warnings.push_back(text); },
            [this](const ESpeech& error) { Errors.push_back(error.what()); }, window);
    }

    // The engine calls made so far, one line each.
    std::vector<std::string> Calls() const {
        return FileExists(LogFile) ? ReadTextLines(LogFile) : std::vector<std::string>{};
    }

    TempDir Dir;
    ScopedEnv Env;
    std::string LogFile = Dir / "calls.log";
    std::vector<std::string> Warnings;
    std::vector<std::string> Errors;
};

TEST_F(SpeechDllTest, LibraryThatCannotBeLoadedWarnsOnlyWhenNotSilent) {
    PutFile(Dir / "garbage.so", "this is no shared library");
    for (const std::string& path : {Dir / "missing.so", Dir / "garbage.so"}) {
        Warnings.clear();
        auto silent = Load(path, true);
        EXPECT_FALSE(silent->Loaded()) << path;
        EXPECT_FALSE(silent->Initialized());
        EXPECT_FALSE(silent->SpeechEnabled());
        EXPECT_FALSE(silent->LoadError().empty());
        EXPECT_TRUE(Warnings.empty());
        EXPECT_NO_THROW(silent->SpeakText("nobody hears this"));

        auto loud = Load(path, false);
        EXPECT_FALSE(loud->Loaded());
        EXPECT_EQ(Warnings, std::vector<std::string>{"Could not load the Murmur library."});
    }
    EXPECT_TRUE(Errors.empty());
}

TEST_F(SpeechDllTest, WorkingEngineIsStartedAndGetsTheTextsBytes) {
    auto speech = Load(FakeEngine("full"), false, 0x1234);
    EXPECT_TRUE(speech->Loaded());
    EXPECT_TRUE(speech->Initialized());
    EXPECT_TRUE(speech->SpeechEnabled());
    speech->SpeakText("Are you dreaming? \xC3\xA9t\xE9");
    EXPECT_EQ(Calls(), (std::vector<std::string>{"Initialize program 4660", "IsSpeechEnabled",
                                                 "Speak Are you dreaming? \xC3\xA9t\xE9"}));
    EXPECT_TRUE(Warnings.empty());
    EXPECT_TRUE(Errors.empty());
}

TEST_F(SpeechDllTest, EnginesFlagDecidesWhetherSpeakIsCalled) {
    Env.Set("FAKE_MURMUR_FLAG", "128"); // any non-zero byte means on
    EXPECT_TRUE(Load(FakeEngine("full"))->SpeechEnabled());

    Env.Set("FAKE_MURMUR_FLAG", "0");
    PutFile(LogFile, "");
    auto speech = Load(FakeEngine("full"));
    EXPECT_TRUE(speech->Initialized());
    EXPECT_FALSE(speech->SpeechEnabled());
    speech->SpeakText("quiet please");
    EXPECT_EQ(Calls(), (std::vector<std::string>{"Initialize program 0", "IsSpeechEnabled"}));
}

TEST_F(SpeechDllTest, MissingInitializeWarnsEvenWhenSilentAndNothingElseIsCalled) {
    auto speech = Load(FakeEngine("no_initialize"), true);
    EXPECT_TRUE(speech->Loaded());
    EXPECT_FALSE(speech->Initialized());
    EXPECT_FALSE(speech->SpeechEnabled());
    speech->SpeakText("hello");
    EXPECT_EQ(Warnings,
              std::vector<std::string>{"Could not find Murmur's initialization function."});
    EXPECT_TRUE(Calls().empty());
    EXPECT_TRUE(Errors.empty());
}

TEST_F(SpeechDllTest, MissingIsSpeechEnabledOrSpeakLeavesTheEngineQuiet) {
    auto noFlag = Load(FakeEngine("no_is_speech_enabled"));
    EXPECT_TRUE(noFlag->Initialized());
    EXPECT_FALSE(noFlag->SpeechEnabled());
    noFlag->SpeakText("hello");
    EXPECT_EQ(Calls(), std::vector<std::string>{"Initialize program 0"});

    PutFile(LogFile, "");
    auto noSpeak = Load(FakeEngine("no_speak"));
    EXPECT_TRUE(noSpeak->SpeechEnabled());
    EXPECT_NO_THROW(noSpeak->SpeakText("hello"));
    EXPECT_EQ(Calls(), (std::vector<std::string>{"Initialize program 0", "IsSpeechEnabled"}));
    EXPECT_TRUE(Warnings.empty());
    EXPECT_TRUE(Errors.empty());
}

TEST_F(SpeechDllTest, FailingIsSpeechEnabledIsReportedAndLeavesAUsableQuietObject) {
    Env.Set("FAKE_MURMUR_ERROR", "No voice for English");
    for (const char* result : {"0", "-3"}) {
        Errors.clear();
        Env.Set("FAKE_MURMUR_ENABLED_RESULT", result);
        auto speech = Load(FakeEngine("full")); // the engine set the flag before failing
        EXPECT_TRUE(speech->Initialized());
        EXPECT_FALSE(speech->SpeechEnabled()) << result;
        EXPECT_EQ(speech->LastError(), "No voice for English");
        EXPECT_EQ(Errors, std::vector<std::string>{ErrorPrefix + "No voice for English"});
        EXPECT_NO_THROW(speech->SpeakText("hello"));
    }
}

TEST_F(SpeechDllTest, FailingSpeakRaisesTheEnginesText) {
    Env.Set("FAKE_MURMUR_ERROR", "The sound device is gone");
    auto speech = Load(FakeEngine("full"));
    for (const char* result : {"0", "-1"}) {
        Env.Set("FAKE_MURMUR_SPEAK_RESULT", result);
        try {
            speech->SpeakText("hello");
            ADD_FAILURE() << "no ESpeech for result " << result;
        } catch (const ESpeech& e) {
            EXPECT_EQ(std::string(e.what()), ErrorPrefix + "The sound device is gone");
        }
        EXPECT_EQ(speech->LastError(), "The sound device is gone");
    }
    Env.Set("FAKE_MURMUR_SPEAK_RESULT", "1");
    EXPECT_NO_THROW(speech->SpeakText("hello again"));
}

TEST_F(SpeechDllTest, WithoutAnErrorTextTheFixedTextIsUsed) {
    Env.Set("FAKE_MURMUR_SPEAK_RESULT", "0");
    Env.Set("FAKE_MURMUR_ENABLED_RESULT", "1");
    {
        auto speech = Load(FakeEngine("no_get_exception_text"));
        try {
            speech->SpeakText("hello");
            ADD_FAILURE() << "no ESpeech";
        } catch (const ESpeech& e) {
            EXPECT_EQ(std::string(e.what()), ErrorPrefix + NoInfo);
        }
        EXPECT_EQ(speech->LastError(), NoInfo);
    }
    // An engine that has the export but hands back nothing, or an empty text.
    for (const char* text : {"(null)", ""}) {
        Env.Set("FAKE_MURMUR_ERROR", text);
        auto speech = Load(FakeEngine("full"));
        EXPECT_THROW(speech->SpeakText("hello"), ESpeech);
        EXPECT_EQ(speech->LastError(), NoInfo) << '"' << text << '"';
    }
    // The creation error takes the same way.
    Env.Set("FAKE_MURMUR_ENABLED_RESULT", "0");
    Errors.clear();
    Load(FakeEngine("no_get_exception_text"));
    EXPECT_EQ(Errors, std::vector<std::string>{ErrorPrefix + NoInfo});
}

TEST_F(SpeechDllTest, EngineThatThrowsIsReportedLikeAFailure) {
    Env.Set("FAKE_MURMUR_ERROR", "thrown");
    Env.Set("FAKE_MURMUR_THROW", "Initialize");
    auto noStart = Load(FakeEngine("full"));
    EXPECT_FALSE(noStart->Initialized());
    EXPECT_EQ(Errors, std::vector<std::string>{ErrorPrefix + "thrown"});

    Errors.clear();
    Env.Set("FAKE_MURMUR_THROW", "IsSpeechEnabled");
    auto noFlag = Load(FakeEngine("full"));
    EXPECT_FALSE(noFlag->SpeechEnabled());
    EXPECT_EQ(Errors, std::vector<std::string>{ErrorPrefix + "thrown"});

    Env.Set("FAKE_MURMUR_THROW", "Speak");
    auto speech = Load(FakeEngine("full"));
    EXPECT_THROW(speech->SpeakText("hello"), ESpeech);
    EXPECT_EQ(speech->LastError(), "thrown");
}

TEST_F(SpeechDllTest, DestroyingTheWrapperUnloadsTheLibrary) {
    const std::string path = FakeEngine("full");
    auto loaded = [&] {
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle != nullptr)
            ::dlclose(handle);
        return handle != nullptr;
    };
    ASSERT_FALSE(loaded());
    auto speech = Load(path);
    EXPECT_TRUE(loaded());
    speech.reset();
    EXPECT_FALSE(loaded());
}

} // namespace
} // namespace pellora
