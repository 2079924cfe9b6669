#pragma once

#include <string>

namespace pellora {

// Well-known folders over the XDG base and user directories.
enum FolderScope { PerUser = 0, Common = 1 };
enum FolderKind {
    DesktopFolder = 0,
    StartMenuFolder = 1,
    ProgramsFolder = 2,
    StartupFolder = 3,
    SendToFolder = 4,
    FontsFolder = 5,
    AppDataFolder = 6,
    DocumentsFolder = 7,
    TemplatesFolder = 8,
    FavoritesFolder = 9,
    LocalAppDataFolder = 10,
};
constexpr int FolderKindCount = 11;

// The folder's path without a trailing slash, or empty when there is none. Without
// noCreate a missing folder is created (with its parents). Answers are cached per
// (scope, kind): an answer is kept when the folder was asked for with creation or when
// it was found; a failed lookup without creation is tried again next time.
std::string GetSpecialFolder(int scope, int kind, bool noCreate);

// The per-user application-data folder without a trailing slash: $XDG_DATA_HOME, or
// $HOME/.local/share when that cannot be had (both created when missing). Throws EFileError
// naming both folders when neither can be had: the program must then stop rather than keep
// the user's files in some folder nobody chose.
std::string UserDataFolder();

// Forgets every cached answer (tests change the environment between cases).
void ResetSpecialFolders();

} // namespace pellora
