#include "platform/Autostart.h"

#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/SpecialFolders.h"
#include "platform/StrUtils.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace pellora {

namespace {

// What the session reads from a desktop entry to decide whether to start it.
struct DesktopEntry {
    bool Valid = false; // has a [Desktop Entry] group
    std::string Name;   // unlocalised Name, unescaped
    std::string Exec;   // as written in the file
    bool Disabled = false;
};

struct FoundEntry {
    std::string FileName;
    std::string Path;
    DesktopEntry Entry;
};

// How many continuation bytes a lead byte announces, and its own bits of the code point;
// false for a byte that cannot start a sequence.
bool LeadByte(unsigned char c, std::size_t& extra, std::uint32_t& code) {
    if ((c & 0xE0) == 0xC0) {
        extra = 1;
        code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2;
        code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3;
        code = c & 0x07;
    } else {
        return false;
    }
    return true;
}

// Desktop files hold UTF-8 text only, and no NUL.
bool ValidText(std::string_view text) {
    static constexpr std::uint32_t Smallest[] = {0, 0x80, 0x800, 0x10000};
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == 0)
                return false;
            ++i;
            continue;
        }
        std::size_t extra = 0;
        std::uint32_t code = 0;
        if (!LeadByte(c, extra, code))
            return false;
        if (text.size() - i <= extra)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < Smallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

// The escapes of string values in desktop files.
std::string EscapeValue(std::string_view text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\')
            result += "\\\\";
        else if (c == '\n')
            result += "\\n";
        else if (c == '\r')
            result += "\\r";
        else if (c == '\t')
            result += "\\t";
        else if (c == ' ' && i == 0)
            result += "\\s"; // a leading blank would be taken as part of the separator
        else
            result += c;
    }
    return result;
}

std::string UnescapeValue(std::string_view text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            char next = text[++i];
            result += next == 's'   ? ' '
                      : next == 'n' ? '\n'
                      : next == 'r' ? '\r'
                      : next == 't' ? '\t'
                                    : next;
        } else {
            result += c;
        }
    }
    return result;
}

// One argument of an Exec line: quoted when it holds a character the launcher would treat
// specially, with the four characters that stay special inside quotes escaped, and '%'
// doubled so that it is not taken for a field code.
std::string ExecArgument(std::string_view argument) {
    const bool quote =
        argument.empty() || argument.find_first_of(" \t\n\r\"'\\><~|&;$*?#()`") != argument.npos;
    std::string result;
    if (quote)
        result += '"';
    for (char c : argument) {
        if (c == '%') {
            result += "%%";
            continue;
        }
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            result += '\\';
        result += c;
    }
    if (quote)
        result += '"';
    return result;
}

bool IsTrue(std::string_view value) {
    return value == "true" || value == "1";
}

DesktopEntry ReadEntry(const std::string& path) {
    DesktopEntry entry;
    std::string bytes;
    try {
        bytes = ReadFileBytes(path);
    } catch (const EFileError&) {
        return entry;
    }
    bool inMainGroup = false;
    bool seenMainGroup = false;
    for (const auto& line : SplitTextLines(bytes)) {
        std::string text = Trim(line);
        if (text.empty() || text.front() == '#')
            continue;
        if (text.front() == '[') {
            // A second [Desktop Entry] group makes the file invalid; only the first counts.
            inMainGroup = text == "[Desktop Entry]" && !seenMainGroup;
            seenMainGroup = seenMainGroup || inMainGroup;
            continue;
        }
        std::size_t equals = text.find('=');
        if (!inMainGroup || equals == std::string::npos)
            continue;
        std::string key = Trim(std::string_view(text).substr(0, equals));
        std::string value = Trim(std::string_view(text).substr(equals + 1));
        if (key == "Name")
            entry.Name = UnescapeValue(value);
        else if (key == "Exec")
            entry.Exec = value;
        // GNOME's session switches entries off with its own key instead of with Hidden.
        else if ((key == "Hidden" && IsTrue(value)) ||
                 (key == "X-GNOME-Autostart-enabled" && (value == "false" || value == "0")))
            entry.Disabled = true;
    }
    entry.Valid = seenMainGroup;
    return entry;
}

bool Matches(const DesktopEntry& entry, std::string_view name) {
    return entry.Valid && SameText(entry.Name, name);
}

// The folder's desktop entries, in name order so that every run picks the same one.
std::vector<FoundEntry> EntriesIn(const std::string& folder) {
    std::vector<FoundEntry> found;
    if (folder.empty())
        return found;
    std::vector<std::string> names = ListFolder(folder);
    std::sort(names.begin(), names.end());
    for (auto& name : names) {
        const std::string suffix = ".desktop";
        if (name.size() <= suffix.size() ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        std::string path = AddTrailingSlash(folder) + name;
        if (!FileExists(path))
            continue;
        DesktopEntry entry = ReadEntry(path);
        found.push_back({std::move(name), std::move(path), std::move(entry)});
    }
    return found;
}

// The entries shared by all users that still take effect: a user's file of the same file
// name replaces a shared one, and among the shared folders the first one listed wins.
std::vector<FoundEntry> SharedEntries(const std::string& userFolder,
                                      const std::vector<FoundEntry>& userEntries) {
    std::vector<std::string> folders;
    const char* value = std::getenv("XDG_CONFIG_DIRS");
    for (auto entry : SplitFields(value ? value : "", ':'))
        if (!entry.empty() && entry.front() == '/')
            folders.push_back(RemoveTrailingSlash(entry) + "/autostart");
    if (folders.empty())
        folders.push_back("/etc/xdg/autostart");

    std::vector<std::string> taken;
    taken.reserve(userEntries.size());
    for (const auto& user : userEntries)
        taken.push_back(user.FileName);
    std::vector<FoundEntry> result;
    for (const auto& folder : folders) {
        if (folder == userFolder)
            continue;
        for (auto& shared : EntriesIn(folder)) {
            if (std::find(taken.begin(), taken.end(), shared.FileName) != taken.end())
                continue;
            taken.push_back(shared.FileName);
            result.push_back(std::move(shared));
        }
    }
    return result;
}

std::string UserFolder(bool create) {
    return GetSpecialFolder(PerUser, StartupFolder, !create);
}

// "Pellora 3" -> "pellora-3" (the file name without ".desktop"); a '/' would lead out of
// the folder.
std::string EntryFileName(std::string_view name) {
    std::string file = LowerCaseAscii(name);
    std::replace(file.begin(), file.end(), ' ', '-');
    std::replace(file.begin(), file.end(), '/', '-');
    return file;
}

bool WriteEntry(const std::string& path, std::string_view name, std::string_view exec,
                bool hidden) {
    std::string text = "[Desktop Entry]\nType=Application\nName=" + EscapeValue(name) +
                       "\nExec=" + std::string(exec) + "\n";
    text += hidden ? "Hidden=true\n" : "X-GNOME-Autostart-enabled=true\n";
    try {
        AtomicWriteFile(path, text);
        return true;
    } catch (const EFileError&) {
        return false;
    }
}

// Switches off every shared entry of that name that would still start, except the one the
// user's file of that file name replaces anyway, by placing a hidden entry in front of it.
// A failure leaves that shared entry on; there is nobody to tell but the next
// IsRunAtStartup, which then still sees it.
void HideSharedEntries(const std::string& userFolder, std::string_view name) {
    for (const auto& shared : SharedEntries(userFolder, EntriesIn(userFolder)))
        if (Matches(shared.Entry, name) && !shared.Entry.Disabled)
            WriteEntry(AddTrailingSlash(userFolder) + shared.FileName, shared.Entry.Name,
                       shared.Entry.Exec, true);
}

} // namespace

bool IsRunAtStartup(std::string_view name) {
    const std::string folder = UserFolder(false);
    const std::vector<FoundEntry> user = EntriesIn(folder);
    for (const auto& found : user)
        if (Matches(found.Entry, name) && !found.Entry.Disabled)
            return true;
    for (const auto& found : SharedEntries(folder, user))
        if (Matches(found.Entry, name) && !found.Entry.Disabled)
            return true;
    return false;
}

bool SetRunAtStartup(std::string_view name, const std::string& path) {
    if (name.empty() || path.empty() || !ValidText(name) || !ValidText(path))
        return false;
    const std::string folder = UserFolder(true);
    if (folder.empty())
        return false;
    const std::vector<FoundEntry> user = EntriesIn(folder);

    // Rewrite the entry already there, so that the user's folder keeps one entry of ours;
    // else take the file name of a shared entry of that name so that ours replaces it.
    // A new file never takes the name of somebody else's entry, which it would replace.
    const std::string stem = EntryFileName(name);
    std::string fileName = stem + ".desktop";
    auto sameName = [&](const FoundEntry& found) { return Matches(found.Entry, name); };
    bool ownFileMatches = std::any_of(user.begin(), user.end(), [&](const FoundEntry& found) {
        return sameName(found) && found.FileName == fileName;
    });
    if (!ownFileMatches) {
        const auto shared = SharedEntries(folder, user);
        auto mine = std::find_if(user.begin(), user.end(), sameName);
        auto theirs = std::find_if(shared.begin(), shared.end(), sameName);
        auto taken = [&](const std::string& file) {
            return PathExists(AddTrailingSlash(folder) + file) ||
                   std::any_of(shared.begin(), shared.end(),
                               [&](const FoundEntry& found) { return found.FileName == file; });
        };
        if (mine != user.end())
            fileName = mine->FileName;
        else if (theirs != shared.end())
            fileName = theirs->FileName;
        else
            for (int number = 2; taken(fileName); ++number)
                fileName = Format("%s-%d.desktop", stem.c_str(), number);
    }
    if (!WriteEntry(AddTrailingSlash(folder) + fileName, name, EscapeValue(ExecArgument(path)),
                    false))
        return false;

    // Other enabled entries of that name would start the program a second time. Hidden
    // ones stay: they may be what keeps a shared entry switched off.
    for (const auto& found : user)
        if (sameName(found) && !found.Entry.Disabled && found.FileName != fileName)
            ::unlink(found.Path.c_str());
    HideSharedEntries(folder, name);
    return true;
}

void RemoveRunAtStartup(std::string_view name) {
    std::string folder = UserFolder(false);
    for (const auto& found : EntriesIn(folder))
        if (Matches(found.Entry, name) && !found.Entry.Disabled)
            ::unlink(found.Path.c_str());

    // A shared entry of that name would still start the program; hide it for this user.
    bool sharedStarts = false;
    for (const auto& found : SharedEntries(folder, EntriesIn(folder)))
        sharedStarts = sharedStarts || (Matches(found.Entry, name) && !found.Entry.Disabled);
    if (sharedStarts) {
        folder = UserFolder(true);
        if (!folder.empty())
            HideSharedEntries(folder, name);
    }
}

} // namespace pellora
