#include "platform/SpecialFolders.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pellora;
using pellora::test::GetFile;
using pellora::test::PutFile;
using pellora::test::TempDir;

namespace {

// Each case gets a home of its own and gives the process its environment back afterwards.
class SpecialFolders : public ::testing::Test {
protected:
    void SetUp() override {
        Set("HOME", Home());
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME",
                                 "XDG_DATA_DIRS", "XDG_CONFIG_DIRS"})
            Env.Set(name, nullptr);
        ResetSpecialFolders();
    }
    void TearDown() override { ResetSpecialFolders(); }
    void Set(const char* name, const std::string& value) { Env.Set(name, value); }
    std::string Home() const { return Dir / "home"; }

    TempDir Dir;
    pellora::test::ScopedEnv Env;
};

unsigned ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

TEST_F(SpecialFolders, AppDataFollowsXdgDataHomeAndIsCreatedPrivatelyWithItsParents) {
    Set("XDG_DATA_HOME", Dir / "data/share/");
    EXPECT_EQ(GetSpecialFolder(PerUser, AppDataFolder, false), Dir / "data/share");
    EXPECT_TRUE(DirectoryExists(Dir / "data/share"));
    EXPECT_EQ(ModeOf(Dir / "data"), 0700u);
    EXPECT_EQ(ModeOf(Dir / "data/share"), 0700u);
}

TEST_F(SpecialFolders, WithoutCreationAMissingFolderIsEmptyAndAskedForAgain) {
    Set("XDG_DATA_HOME", Dir / "later");
    EXPECT_EQ(GetSpecialFolder(PerUser, AppDataFolder, true), "");
    EXPECT_FALSE(PathExists(Dir / "later"));
    ASSERT_EQ(::mkdir((Dir / "later").c_str(), 0700), 0);
    EXPECT_EQ(GetSpecialFolder(PerUser, AppDataFolder, true), Dir / "later");
    // Found once, it is known from then on.
    Set("XDG_DATA_HOME", Dir / "moved");
    EXPECT_EQ(GetSpecialFolder(PerUser, AppDataFolder, true), Dir / "later");
    // A plain file where the folder should be is no folder.
    Set("XDG_STATE_HOME", Dir / "state");
    PutFile(Dir / "state", "x");
    EXPECT_EQ(GetSpecialFolder(PerUser, LocalAppDataFolder, true), "");
}

TEST_F(SpecialFolders, AKnownAnswerStaysUntilResetEvenWhenTheEnvironmentChanges) {
    Set("XDG_DATA_HOME", Dir / "first");
    EXPECT_EQ(GetSpecialFolder(PerUser, AppDataFolder, false), Dir / "first");
    Set("XDG_DATA_HOME", Dir / "second");
    EXPECT_EQ(GetSpecialFolder(PerUser, AppDataFolder, true), Dir / "first");
    EXPECT_EQ(GetSpecialFolder(PerUser, AppDataFolder, false), Dir / "first");
    EXPECT_FALSE(PathExists(Dir / "second"));
    ResetSpecialFolders();
    EXPECT_EQ(GetSpecialFolder(PerUser, AppDataFolder, false), Dir / "second");

    // A failed creation is an answer too: it is not tried again until the reset.
    PutFile(Dir / "blocker", "x");
    Set("XDG_CONFIG_HOME", Dir / "blocker");
    EXPECT_EQ(GetSpecialFolder(PerUser, StartupFolder, false), "");
    Set("XDG_CONFIG_HOME", Dir / "config");
    EXPECT_EQ(GetSpecialFolder(PerUser, StartupFolder, false), "");
    ResetSpecialFolders();
    EXPECT_EQ(GetSpecialFolder(PerUser, StartupFolder, false), Dir / "config/autostart");
}

TEST_F(SpecialFolders, RelativeOrEmptyVariablesAreIgnoredForTheDefaults) {
    Set("XDG_DATA_HOME", "relative/share");
    Set("XDG_CONFIG_HOME", "");
    Set("XDG_STATE_HOME", "./state");
    EXPECT_EQ(GetSpecialFolder(PerUser, AppDataFolder, false), Home() + "/.local/share");
    EXPECT_EQ(GetSpecialFolder(PerUser, StartupFolder, false), Home() + "/.config/autostart");
    EXPECT_EQ(GetSpecialFolder(PerUser, LocalAppDataFolder, false), Home() + "/.local/state");
    EXPECT_FALSE(PathExists("relative"));

    Set("XDG_DATA_DIRS", "rel/share::" + Dir / "sys1/:" + Dir / "sys2");
    Set("XDG_CONFIG_DIRS", "etc/xdg");
    EXPECT_EQ(GetSpecialFolder(Common, AppDataFolder, false), Dir / "sys1");
    // Only looked up: with no valid entry the answer is the system's own folder.
    const std::string systemStartup = "/etc/xdg/autostart";
    EXPECT_EQ(GetSpecialFolder(Common, StartupFolder, true),
              DirectoryExists(systemStartup) ? systemStartup : "");
}

TEST_F(SpecialFolders, EveryKindNamesItsFolderAndKindsWithoutOneAreEmpty) {
    Set("XDG_DATA_HOME", Dir / "data");
    Set("XDG_CONFIG_HOME", Dir / "config");
    Set("XDG_STATE_HOME", Dir / "state");
    Set("XDG_DATA_DIRS", Dir / "sys/share:" + Dir / "other");
    Set("XDG_CONFIG_DIRS", Dir / "sys/xdg");
    mode_t oldMask = ::umask(022);

    EXPECT_EQ(GetSpecialFolder(PerUser, StartMenuFolder, false), Dir / "data/applications");
    EXPECT_EQ(GetSpecialFolder(PerUser, ProgramsFolder, false), Dir / "data/applications");
    EXPECT_EQ(GetSpecialFolder(PerUser, StartupFolder, false), Dir / "config/autostart");
    EXPECT_EQ(GetSpecialFolder(PerUser, FontsFolder, false), Dir / "data/fonts");
    EXPECT_EQ(GetSpecialFolder(PerUser, LocalAppDataFolder, false), Dir / "state");
    EXPECT_EQ(GetSpecialFolder(Common, StartMenuFolder, false), Dir / "sys/share/applications");
    EXPECT_EQ(GetSpecialFolder(Common, ProgramsFolder, false), Dir / "sys/share/applications");
    EXPECT_EQ(GetSpecialFolder(Common, StartupFolder, false), Dir / "sys/xdg/autostart");
    EXPECT_EQ(GetSpecialFolder(Common, AppDataFolder, false), Dir / "sys/share");
    EXPECT_EQ(GetSpecialFolder(Common, FontsFolder, false), Dir / "data/fonts");
    EXPECT_EQ(GetSpecialFolder(Common, LocalAppDataFolder, false), Dir / "state");
    // Folders for everybody must stay readable by everybody.
    EXPECT_EQ(ModeOf(Dir / "sys/share/applications"), 0755u);
    EXPECT_EQ(ModeOf(Dir / "config/autostart"), 0700u);
    ::umask(oldMask);

    for (auto [scope, kind] : {std::pair{PerUser, SendToFolder},
                               {PerUser, FavoritesFolder},
                               {Common, DesktopFolder},
                               {Common, SendToFolder},
                               {Common, TemplatesFolder},
                               {Common, FavoritesFolder}})
        EXPECT_EQ(GetSpecialFolder(scope, kind, false), "") << scope << "/" << kind;
    for (auto [scope, kind] : {std::pair{-1, 6}, {2, 6}, {0, -1}, {0, FolderKindCount}})
        EXPECT_EQ(GetSpecialFolder(scope, kind, false), "") << scope << "/" << kind;
}

TEST_F(SpecialFolders, UserDirectoriesComeFromUserDirsOrTheirDefaults) {
    Set("XDG_CONFIG_HOME", Dir / "config");
    EXPECT_EQ(GetSpecialFolder(PerUser, DesktopFolder, false), Home() + "/Desktop");
    EXPECT_EQ(GetSpecialFolder(PerUser, DocumentsFolder, false), Home() + "/Documents");
    EXPECT_EQ(GetSpecialFolder(PerUser, TemplatesFolder, false), Home() + "/Templates");
    EXPECT_EQ(GetSpecialFolder(Common, DocumentsFolder, false), Home() + "/Public");

    PutFile(Dir / "config/user-dirs.dirs", "# XDG_DESKTOP_DIR=\"$HOME/Commented\"\n"
                                           "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch/\"\r\n"
                                           "  XDG_DOCUMENTS_DIR=\"$HOME/Old\"\n"
                                           "XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\" $x\"\n"
                                           "XDG_TEMPLATES_DIR=\"Relative/Templates\"\n"
                                           "XDG_TEMPLATES_DIR=\"$HOMEWORK/Templates\"\n"
                                           "XDG_PUBLICSHARE_DIR=\"$HOME\"\n"
                                           "XDG_MUSIC_DIR=\"" +
                                               Dir / "music" + "\"\n");
    ResetSpecialFolders();
    EXPECT_EQ(GetSpecialFolder(PerUser, DesktopFolder, false), Home() + "/Schreibtisch");
    EXPECT_EQ(GetSpecialFolder(PerUser, DocumentsFolder, false), Home() + "/My \"Docs\" $x");
    EXPECT_TRUE(DirectoryExists(Home() + "/My \"Docs\" $x"));
    EXPECT_EQ(GetSpecialFolder(PerUser, TemplatesFolder, false), Home() + "/Templates");
    EXPECT_EQ(GetSpecialFolder(Common, DocumentsFolder, false), Home());

    PutFile(Dir / "config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"" + Dir / "elsewhere/Desk\"\n");
    ResetSpecialFolders();
    EXPECT_EQ(GetSpecialFolder(PerUser, DesktopFolder, false), Dir / "elsewhere/Desk");
}

TEST_F(SpecialFolders, UserDataFallsBackToTheHomeFolderAndOtherwiseFailsClearly) {
    Set("XDG_DATA_HOME", Dir / "data");
    EXPECT_EQ(UserDataFolder(), Dir / "data");
    ResetSpecialFolders();

    PutFile(Dir / "blocker", "a file where folders should be");
    Set("XDG_DATA_HOME", Dir / "blocker/share");
    EXPECT_EQ(UserDataFolder(), Home() + "/.local/share");
    EXPECT_TRUE(DirectoryExists(Home() + "/.local/share"));
    ResetSpecialFolders();

    Set("HOME", Dir / "blocker/home");
    try {
        UserDataFolder();
        FAIL() << "no error";
    } catch (const EFileError& e) {
        const std::string text = e.what();
        EXPECT_NE(text.find(Dir / "blocker/share"), std::string::npos) << text;
        EXPECT_NE(text.find(Dir / "blocker/home/.local/share"), std::string::npos) << text;
    }
    EXPECT_EQ(GetFile(Dir / "blocker"), "a file where folders should be");
}
