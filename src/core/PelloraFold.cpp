#include "core/PelloraFold.h"

#include "core/LangPrefs.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/SpecialFolders.h"
#include "platform/StrUtils.h"

#include <cstdio>
#include <sys/stat.h>

namespace pellora {

namespace {

constexpr const char* DataSubFolder = "Harbrook/Pellora 3/";
constexpr const char* ShippedLibraryName = "Messages.cfg";
constexpr const char* LibraryName = "messages.cfg";
constexpr const char* DefaultSelectsName = "Default Selects.dat";

std::string ProgramNameOf(const std::string& exePath) {
    return ChangeFileExt(ExtractFileName(exePath), "");
}

// A real folder (links followed) whose name has exactly two characters and is not hidden.
bool IsLanguageFolder(const std::string& parent, const std::string& name) {
    return name.size() == 2 && name[0] != '.' && DirectoryExists(parent + name);
}

// Both paths name the same folder (the same file on disk, or the same text).
bool SameFolder(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return AddTrailingSlash(a) == AddTrailingSlash(b);
}

// A file of that name below the folder in any letter case, the folder's too.
bool ExistsIgnoreCase(const std::string& folder, std::string_view subFolder,
                      std::string_view fileName) {
    std::string found = FindIgnoreCase(folder, subFolder);
    return !found.empty() && !FindIgnoreCase(found, fileName).empty();
}

} // namespace

TPellFolders::TPellFolders(const std::string& exePath, const std::string& appDataFolder,
                           std::string programName)
    : ProgramName(programName.empty() ? ProgramNameOf(exePath) : std::move(programName)) {
    std::string exeFolder = ExtractFilePath(exePath);
    std::string parent = exeFolder.empty() ? "" : ExtractFilePath(RemoveTrailingSlash(exeFolder));
    InstallPath = parent + "share/pellora/";
    // An empty folder would put the user's files at the root of the file system.
    if (appDataFolder.empty())
        throw EFileError("There is no folder for the user's data.");
    AppDataPath = AddTrailingSlash(appDataFolder);
}

std::string TPellFolders::DataFolder() const {
    return AppDataPath + DataSubFolder;
}

std::string TPellFolders::DefaultLibraryFolder() const {
    return DefaultLibraryFolder(UserLanguageCode(true));
}

std::string TPellFolders::DefaultLibraryFolder(std::string_view languageCode) const {
    const std::string local = InstallPath + "Local/";
    if (!languageCode.empty()) {
        std::string found = FindIgnoreCase(local, languageCode);
        if (!found.empty() && DirectoryExists(found))
            return AddTrailingSlash(found);
    }
    std::string us = FindIgnoreCase(local, "us");
    return AddTrailingSlash(us.empty() ? local + "us" : us);
}

std::string TPellFolders::SelectsFile() const {
    return DataFolder() + "Message Selects.dat";
}
std::string TPellFolders::PrefsFile() const {
    return DataFolder() + ProgramName + " Prefs.ini";
}
std::string TPellFolders::StateFile() const {
    return DataFolder() + ProgramName + " State.ini";
}
std::string TPellFolders::LocalFolder() const {
    return DataFolder() + "Local/";
}
std::string TPellFolders::SkinsFolder() const {
    return InstallPath + "Skins/";
}

void TStartDataInstall::Run(const TPellFolders& folders) {
    InstallMessageFiles(folders);
    InstallSelects(folders);
}

void TStartDataInstall::InstallMessageFiles(const TPellFolders& folders) {
    if (SameFolder(folders.InstallFolder(), folders.DataFolder()))
        return;
    const std::string shipped = folders.InstallFolder() + "Local/";
    const std::string local = folders.LocalFolder();
    for (const std::string& name : ListFolder(shipped)) {
        if (!IsLanguageFolder(shipped, name))
            continue;
        std::string source = FindIgnoreCase(shipped + name, ShippedLibraryName);
        if (source.empty() || !FileExists(source))
            continue;
        // The collections read the lower-case folder; a copy in any spelling counts.
        if (ExistsIgnoreCase(local, name, LibraryName))
            continue;
        std::string target = local + LowerCaseAscii(name) + "/" + LibraryName;
        try {
            CopyTextFile(source, target);
        } catch (const std::exception& e) {
            // One library that cannot be copied must not keep the program from starting.
            std::fprintf(stderr, "pellora: %s\n", e.what());
        }
    }
}

void TStartDataInstall::InstallSelects(const TPellFolders& folders) {
    const std::string target = folders.SelectsFile();
    if (PathExists(target))
        return;
    std::string source = FindIgnoreCase(folders.DefaultLibraryFolder(), DefaultSelectsName);
    if (source.empty() || !FileExists(source))
        return;
    try {
        CopyTextFile(source, target);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pellora: %s\n", e.what());
    }
}

TPellFolders TPellFolders::ForRunningProgram(std::string programName) {
    return TPellFolders(ExecutablePath(), UserDataFolder(), std::move(programName));
}

} // namespace pellora
