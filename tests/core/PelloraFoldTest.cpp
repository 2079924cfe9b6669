#include "core/PelloraFold.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace pellora;
using pellora::test::GetFile;
using pellora::test::LocaleEnvironment;
using pellora::test::PutFile;
using pellora::test::TempDir;

namespace {

// An installation below dir/inst (program in inst/bin) and a user's data below dir/data.
struct Layout {
    TempDir Dir;
    TPellFolders Folders{Dir / "inst/bin/pellora", Dir / "data"};
    std::string Shipped(const std::string& relative) const {
        return Dir / ("inst/share/pellora/" + relative);
    }
    std::string Data(const std::string& relative) const { return Folders.DataFolder() + relative; }
};

} // namespace

TEST(PellFolders, PathsFollowTheExecutableAndTheDataFolder) {
    TempDir dir;
    TPellFolders folders("/opt/pellora/bin/pellora", dir / "share");
    EXPECT_EQ(folders.InstallFolder(), "/opt/pellora/share/pellora/");
    EXPECT_EQ(folders.DataFolder(), dir / "share/Harbrook/Pellora 3/");
    EXPECT_EQ(folders.PrefsFile(), dir / "share/Harbrook/Pellora 3/pellora Prefs.ini");
    EXPECT_EQ(folders.StateFile(), dir / "share/Harbrook/Pellora 3/pellora State.ini");
    EXPECT_EQ(folders.SelectsFile(), dir / "share/Harbrook/Pellora 3/Message Selects.dat");
    EXPECT_EQ(folders.LocalFolder(), dir / "share/Harbrook/Pellora 3/Local/");
    EXPECT_EQ(folders.SkinsFolder(), "/opt/pellora/share/pellora/Skins/");

    TPellFolders companion("/opt/pellora/bin/pellora-cli", dir / "share/", "pellora");
    EXPECT_EQ(companion.PrefsFile(), folders.PrefsFile());
    TPellFolders dotted("/opt/p/bin/pellora.bin", dir / "share");
    EXPECT_EQ(dotted.StateFile(), dir / "share/Harbrook/Pellora 3/pellora State.ini");
    // Without a data folder nothing may land at the root of the file system.
    EXPECT_THROW(TPellFolders("/opt/p/bin/pellora", ""), EFileError);
}

TEST(PellFolders, DefaultLibraryFolderFallsBackToUs) {
    Layout l;
    PutFile(l.Shipped("Local/us/Default Selects.dat"), "");
    PutFile(l.Shipped("Local/DE/Messages.cfg"), "");
    EXPECT_EQ(l.Folders.DefaultLibraryFolder("EN"), l.Shipped("Local/us/"));
    EXPECT_EQ(l.Folders.DefaultLibraryFolder("DE"), l.Shipped("Local/DE/"));
    EXPECT_EQ(l.Folders.DefaultLibraryFolder("de"), l.Shipped("Local/DE/"));
    PutFile(l.Shipped("Local/nl"), "a file, not a folder");
    EXPECT_EQ(l.Folders.DefaultLibraryFolder("NL"), l.Shipped("Local/us/"));
}

TEST(PellFolders, DefaultLibraryFolderFollowsTheUserLocale) {
    Layout l;
    PutFile(l.Shipped("Local/DE/Messages.cfg"), "");
    LocaleEnvironment german(nullptr, nullptr, "de_DE.UTF-8");
    EXPECT_EQ(l.Folders.DefaultLibraryFolder(), l.Shipped("Local/DE/"));
    LocaleEnvironment british(nullptr, nullptr, "en_GB.UTF-8");
    EXPECT_EQ(l.Folders.DefaultLibraryFolder(), l.Shipped("Local/us/"));
}

TEST(StartDataInstall, CopiesTwoLetterLibrariesToLowerCaseFoldersAsCrLfLines) {
    Layout l;
    PutFile(l.Shipped("Local/DE/Messages.cfg"), "|NEW|1|5||| Bin ich wach?\n|NEW|2|6|||Atme\r");
    PutFile(l.Shipped("Local/en/messages.CFG"), "|NEW|1|7|||Am I awake?");
    PutFile(l.Shipped("Local/deu/Messages.cfg"), "three letters");
    PutFile(l.Shipped("Local/.x/Messages.cfg"), "hidden");
    PutFile(l.Shipped("Local/fr/other.txt"), "no library here");
    PutFile(l.Shipped("Local/nl"), "a file named like a language");
    TStartDataInstall::InstallMessageFiles(l.Folders);

    EXPECT_EQ(GetFile(l.Data("Local/de/messages.cfg")),
              "|NEW|1|5||| Bin ich wach?\r\n|NEW|2|6|||Atme\r\n");
    EXPECT_EQ(GetFile(l.Data("Local/en/messages.cfg")), "|NEW|1|7|||Am I awake?\r\n");
    std::vector<std::string> copied = ListFolder(l.Data("Local"));
    std::sort(copied.begin(), copied.end());
    EXPECT_EQ(copied, (std::vector<std::string>{"de", "en"}));
}

TEST(StartDataInstall, NeverOverwritesAndAnyLetterCaseCountsAsPresent) {
    Layout l;
    PutFile(l.Shipped("Local/DE/Messages.cfg"), "shipped");
    PutFile(l.Shipped("Local/EN/Messages.cfg"), "shipped");
    PutFile(l.Data("Local/DE/Messages.cfg"), "the user's own download");
    TStartDataInstall::Run(l.Folders);
    EXPECT_EQ(GetFile(l.Data("Local/DE/Messages.cfg")), "the user's own download");
    EXPECT_EQ(GetFile(l.Data("Local/de/messages.cfg")), "<missing>");
    EXPECT_EQ(GetFile(l.Data("Local/en/messages.cfg")), "shipped\r\n");

    // A second start copies nothing.
    PutFile(l.Data("Local/en/messages.cfg"), "edited");
    TStartDataInstall::Run(l.Folders);
    EXPECT_EQ(GetFile(l.Data("Local/en/messages.cfg")), "edited");
}

TEST(StartDataInstall, InstallsTheDefaultSelectionOnlyWhenMissing) {
    Layout l;
    LocaleEnvironment english(nullptr, nullptr, "en_US.UTF-8");
    PutFile(l.Shipped("Local/us/Default Selects.dat"), "EN|1|7|Am I awake?");
    TStartDataInstall::Run(l.Folders);
    EXPECT_EQ(GetFile(l.Folders.SelectsFile()), "EN|1|7|Am I awake?\r\n");
    PutFile(l.Folders.SelectsFile(), "EN|2|8|mine");
    TStartDataInstall::Run(l.Folders);
    EXPECT_EQ(GetFile(l.Folders.SelectsFile()), "EN|2|8|mine");
}

TEST(StartDataInstall, WhenInstallationAndDataFolderAreOneOnlyTheSelectionIsInstalled) {
    Layout l;
    LocaleEnvironment english(nullptr, nullptr, "en_US.UTF-8");
    PutFile(l.Shipped("Local/de/Messages.cfg"), "shipped");
    PutFile(l.Shipped("Local/us/Default Selects.dat"), "EN|1|1|a");
    // The data folder is the installation folder, reached through a link.
    ASSERT_TRUE(ForceDirectories(l.Dir / "data/Harbrook"));
    ASSERT_EQ(::symlink(l.Shipped("").c_str(), (l.Dir / "data/Harbrook/Pellora 3").c_str()), 0);
    TStartDataInstall::Run(l.Folders);
    EXPECT_EQ(GetFile(l.Shipped("Local/de/messages.cfg")), "<missing>");
    EXPECT_EQ(GetFile(l.Shipped("Message Selects.dat")), "EN|1|1|a\r\n");
}

TEST(StartDataInstall, ALibraryThatCannotBeCopiedDoesNotStopTheOthers) {
    Layout l;
    PutFile(l.Shipped("Local/de/Messages.cfg"), "de");
    PutFile(l.Shipped("Local/en/Messages.cfg"), "en");
    PutFile(l.Data("Local/de"), "a file where the language folder should be");
    EXPECT_NO_THROW(TStartDataInstall::Run(l.Folders));
    EXPECT_EQ(GetFile(l.Data("Local/en/messages.cfg")), "en\r\n");
    EXPECT_EQ(GetFile(l.Data("Local/de")), "a file where the language folder should be");
}
