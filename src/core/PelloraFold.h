#pragma once

#include <string>
#include <string_view>

namespace pellora {

// The two roots of every file the program touches: the installation folder (shipped,
// read-only data) and the per-user data folder (everything the user changes).
// Folder results end with '/'. The program's context holds one; pellora-cli makes its own.
class TPellFolders {
public:
    // The folders of the running executable and the user's data folder. programName
    // overrides the settings files' base name, so a companion tool can share the program's.
    static TPellFolders ForRunningProgram(std::string programName = "");

    // exePath: the running program; appDataFolder: the per-user application-data folder
    // (UserDataFolder(); EFileError when empty); programName: the base of the settings file
    // names, by default the executable's name without its extension.
    TPellFolders(const std::string& exePath, const std::string& appDataFolder,
                 std::string programName = "");

    // <executable's folder>/../share/pellora/
    const std::string& InstallFolder() const { return InstallPath; }
    const std::string& AppDataFolder() const { return AppDataPath; }
    // AppDataFolder + "Harbrook/Pellora 3/"
    std::string DataFolder() const;
    // InstallFolder + "Local/<code>/" for the user's language when that folder exists, else
    // InstallFolder + "Local/us/". Folder names match without regard to letter case.
    std::string DefaultLibraryFolder() const;
    std::string DefaultLibraryFolder(std::string_view languageCode) const;
    std::string SelectsFile() const; // DataFolder + "Message Selects.dat"
    std::string PrefsFile() const;   // DataFolder + program name + " Prefs.ini"
    std::string StateFile() const;   // DataFolder + program name + " State.ini"
    std::string LocalFolder() const; // DataFolder + "Local/"
    std::string SkinsFolder() const; // InstallFolder + "Skins/"

private:
    std::string InstallPath;
    std::string AppDataPath;
    std::string ProgramName;
};

// Copies the shipped message libraries and the default selection into the data folder
// where they are still missing; never overwrites a file of the user's.
class TStartDataInstall {
public:
    static void Run(const TPellFolders& folders);
    // Each Local/<two letters>/Messages.cfg of the installation to
    // DataFolder/Local/<two letters in lower case>/messages.cfg.
    static void InstallMessageFiles(const TPellFolders& folders);
    // DefaultLibraryFolder/"Default Selects.dat" to SelectsFile.
    static void InstallSelects(const TPellFolders& folders);
};

} // namespace pellora
