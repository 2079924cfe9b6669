#include "platform/SpecialFolders.h"

#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace pellora {

namespace {

// Which folder answers each (scope, kind):
//
// kind                 per-user                          common
// 0 desktop            XDG_DESKTOP_DIR                   -
// 1 start menu         $XDG_DATA_HOME/applications       <first data dir>/applications
// 2 programs           $XDG_DATA_HOME/applications       <first data dir>/applications
// 3 start-up           $XDG_CONFIG_HOME/autostart        <first config dir>/autostart
// 4 send-to            -                                 -
// 5 fonts              $XDG_DATA_HOME/fonts              $XDG_DATA_HOME/fonts
// 6 application data   $XDG_DATA_HOME                    <first data dir>
// 7 documents          XDG_DOCUMENTS_DIR                 XDG_PUBLICSHARE_DIR
// 8 templates          XDG_TEMPLATES_DIR                 -
// 9 favourites         -                                 -
// 10 local app data    $XDG_STATE_HOME                   $XDG_STATE_HOME
//
// Desktop menus keep no separate "programs" level below the start menu, so both kinds name
// the applications folder. There is no send-to menu, no favourites folder, no desktop
// shared by all users and no shared templates. Fonts and local application data name the
// same folder in both scopes, as they always did. Local application data is what stays on
// this machine and is not worth carrying along, which is what the state folder is for. The
// closest thing to documents shared by all users is the user's public share.
enum class Source {
    None,
    DataHome,
    ConfigHome,
    StateHome,
    FirstDataDir,
    FirstConfigDir,
    Desktop,
    Documents,
    Templates,
    PublicShare
};

struct FolderRule {
    Source Base;
    const char* Below; // appended with a '/' when not empty
};

constexpr std::array<std::array<FolderRule, FolderKindCount>, 2> Rules{{
    {{{Source::Desktop, ""},
      {Source::DataHome, "applications"},
      {Source::DataHome, "applications"},
      {Source::ConfigHome, "autostart"},
      {Source::None, ""},
      {Source::DataHome, "fonts"},
      {Source::DataHome, ""},
      {Source::Documents, ""},
      {Source::Templates, ""},
      {Source::None, ""},
      {Source::StateHome, ""}}},
    {{{Source::None, ""},
      {Source::FirstDataDir, "applications"},
      {Source::FirstDataDir, "applications"},
      {Source::FirstConfigDir, "autostart"},
      {Source::None, ""},
      {Source::DataHome, "fonts"},
      {Source::FirstDataDir, ""},
      {Source::PublicShare, ""},
      {Source::None, ""},
      {Source::None, ""},
      {Source::StateHome, ""}}},
}};

struct FolderCache {
    std::mutex Lock;
    std::array<std::array<std::string, FolderKindCount>, 2> Paths;
    std::array<std::array<bool, FolderKindCount>, 2> Known{};
};

FolderCache& Cache() {
    static FolderCache cache;
    return cache;
}

bool IsAbsolute(std::string_view path) {
    return !path.empty() && path.front() == '/';
}

// Every trailing '/' goes, but the root stays.
std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// $HOME when it is an absolute path, else the account's home folder; empty when neither is
// known. A relative HOME would put every folder below whatever the current folder is.
std::string HomeFolder() {
    std::string home = Environment("HOME");
    if (IsAbsolute(home))
        return WithoutTrailingSlashes(home);
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (found != nullptr && found->pw_dir != nullptr && IsAbsolute(found->pw_dir))
        return WithoutTrailingSlashes(found->pw_dir);
    return std::string();
}

// A base folder variable: only an absolute value counts, otherwise the default below home.
std::string BaseHome(const char* variable, const char* belowHome) {
    std::string value = Environment(variable);
    if (IsAbsolute(value))
        return WithoutTrailingSlashes(value);
    std::string home = HomeFolder();
    return home.empty() ? std::string() : home + "/" + belowHome;
}

// The first absolute entry of a search-path variable, or the first default entry.
std::string FirstOfList(const char* variable, const char* fallback) {
    std::string value = Environment(variable);
    for (auto entry : SplitFields(value, ':'))
        if (IsAbsolute(entry))
            return WithoutTrailingSlashes(std::string(entry));
    return WithoutTrailingSlashes(std::string(SplitFields(fallback, ':').front()));
}

// The folder a user-dirs.dirs line sets for `key` ("XDG_DESKTOP_DIR"), in the only two
// forms that file allows: "$HOME/..." and "/...". Nothing for other lines and other forms.
std::optional<std::string> UserDirLine(std::string_view rest, const std::string& key,
                                       const std::string& home) {
    auto skipBlanks = [&rest] {
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
            rest.remove_prefix(1);
    };
    skipBlanks();
    if (rest.substr(0, key.size()) != key)
        return std::nullopt;
    rest.remove_prefix(key.size());
    skipBlanks();
    if (rest.empty() || rest.front() != '=')
        return std::nullopt;
    rest.remove_prefix(1);
    skipBlanks();
    if (rest.empty() || rest.front() != '"')
        return std::nullopt;
    rest.remove_prefix(1);
    std::string path;
    if (rest.substr(0, 5) == "$HOME") {
        rest.remove_prefix(5);
        if (!rest.empty() && rest.front() != '/' && rest.front() != '"')
            return std::nullopt; // "$HOMEX" names some other variable
        path = home;
    } else if (rest.empty() || rest.front() != '/') {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < rest.size() && rest[i] != '"'; ++i) {
        if (rest[i] == '\\' && i + 1 < rest.size())
            ++i;
        path += rest[i];
    }
    if (path.empty())
        return std::nullopt;
    return path;
}

// The value of XDG_<name>_DIR in user-dirs.dirs. Anything but the two allowed forms is
// ignored, as other readers of the file do; when a name is given more than once the last one
// counts, as when the file is sourced by a shell. A folder set to $HOME itself is how a user
// switches the folder off; the answer is then $HOME, which is also what xdg-user-dir prints
// for it.
std::string UserDir(const std::string& home, const char* name, const char* fallback) {
    std::string result = home + "/" + fallback;
    std::string config = BaseHome("XDG_CONFIG_HOME", ".config");
    if (config.empty() || !FileExists(config + "/user-dirs.dirs"))
        return result;
    std::vector<std::string> lines;
    try {
        lines = ReadTextLines(config + "/user-dirs.dirs");
    } catch (const std::exception&) {
        return result;
    }
    const std::string key = std::string("XDG_") + name + "_DIR";
    for (const auto& line : lines)
        if (std::optional<std::string> path = UserDirLine(line, key, home))
            result = WithoutTrailingSlashes(*path);
    return result;
}

// The folder's path for this rule, or empty when there is none.
std::string FolderPath(const FolderRule& rule) {
    std::string home = HomeFolder();
    std::string base;
    switch (rule.Base) {
    case Source::None:
        return std::string();
    case Source::DataHome:
        base = BaseHome("XDG_DATA_HOME", ".local/share");
        break;
    case Source::ConfigHome:
        base = BaseHome("XDG_CONFIG_HOME", ".config");
        break;
    case Source::StateHome:
        base = BaseHome("XDG_STATE_HOME", ".local/state");
        break;
    case Source::FirstDataDir:
        base = FirstOfList("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
        break;
    case Source::FirstConfigDir:
        base = FirstOfList("XDG_CONFIG_DIRS", "/etc/xdg");
        break;
    case Source::Desktop:
        base = home.empty() ? home : UserDir(home, "DESKTOP", "Desktop");
        break;
    case Source::Documents:
        base = home.empty() ? home : UserDir(home, "DOCUMENTS", "Documents");
        break;
    case Source::Templates:
        base = home.empty() ? home : UserDir(home, "TEMPLATES", "Templates");
        break;
    case Source::PublicShare:
        base = home.empty() ? home : UserDir(home, "PUBLICSHARE", "Public");
        break;
    }
    if (base.empty() || *rule.Below == '\0')
        return base;
    return (base == "/" ? "" : base) + "/" + rule.Below;
}

// Creates the folder with every missing parent in the given mode; true when it exists.
bool MakeFolders(const std::string& path, mode_t mode) {
    if (DirectoryExists(path))
        return true;
    std::string parent = WithoutTrailingSlashes(ExtractFilePath(path));
    if (!parent.empty() && parent != path && !MakeFolders(parent, mode))
        return false;
    if (::mkdir(path.c_str(), mode) == 0)
        return true;
    return errno == EEXIST && DirectoryExists(path);
}

} // namespace

std::string GetSpecialFolder(int scope, int kind, bool noCreate) {
    if (scope < 0 || scope > 1 || kind < 0 || kind >= FolderKindCount)
        return std::string();
    FolderCache& cache = Cache();
    std::lock_guard<std::mutex> guard(cache.Lock);
    if (cache.Known[scope][kind])
        return cache.Paths[scope][kind];

    const FolderRule& rule = Rules[scope][kind];
    std::string path = FolderPath(rule);
    if (!path.empty()) {
        // Folders of the user's own are private (0700) as the base directory rules ask;
        // folders shared by all users must stay readable by them.
        bool shared = rule.Base == Source::FirstDataDir || rule.Base == Source::FirstConfigDir;
        bool exists = noCreate ? DirectoryExists(path) : MakeFolders(path, shared ? 0755 : 0700);
        if (!exists)
            path.clear();
    }
    cache.Paths[scope][kind] = path;
    if (!noCreate || !path.empty())
        cache.Known[scope][kind] = true;
    return path;
}

std::string UserDataFolder() {
    std::string folder = GetSpecialFolder(PerUser, AppDataFolder, false);
    if (!folder.empty())
        return folder;
    const std::string wanted = FolderPath(Rules[PerUser][AppDataFolder]);
    const std::string home = HomeFolder();
    std::string fallback = home.empty() ? std::string() : home + "/.local/share";
    if (!fallback.empty() && fallback != wanted && MakeFolders(fallback, 0700))
        return fallback;
    const int error = errno;
    std::string tried;
    for (const std::string& path : {wanted, fallback})
        if (!path.empty() && tried.find("\"" + path + "\"") == std::string::npos)
            tried += (tried.empty() ? "\"" : " and \"") + path + "\"";
    if (tried.empty())
        throw EFileError("Cannot find a folder for the user's data: neither XDG_DATA_HOME nor "
                         "HOME names one. Set HOME to your home folder.");
    throw EFileError(Format("Cannot create a folder for the user's data: tried %s (%s). Set "
                            "XDG_DATA_HOME or HOME to a folder you can write to.",
                            tried.c_str(), std::strerror(error)));
}

void ResetSpecialFolders() {
    FolderCache& cache = Cache();
    std::lock_guard<std::mutex> guard(cache.Lock);
    for (auto& row : cache.Paths)
        for (auto& path : row)
            path.clear();
    for (auto& row : cache.Known)
        row.fill(false);
}

} // namespace pellora
