// pellora-skinpack: packs a folder into a skin file, lists one, or unpacks one.

#include "SkinWriter.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"
#include "skins/SkinContent.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace pellora;

namespace {

constexpr const char* Usage = "usage: pellora-skinpack pack DIR OUT.skn\n"
                              "       pellora-skinpack list FILE\n"
                              "       pellora-skinpack unpack FILE DIR\n";

void Warn(const std::string& text) {
    std::fprintf(stderr, "pellora-skinpack: %s\n", text.c_str());
}

bool IsIniName(const std::string& name) {
    std::string lower = LowerCaseAscii(name);
    return lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".ini") == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

int Pack(const std::string& folder, const std::string& target) {
    if (!DirectoryExists(folder))
        throw EFileError(Format("\"%s\" is not a folder.", folder.c_str()));
    std::vector<std::string> names = ListFolder(folder);
    std::sort(names.begin(), names.end());
    // The describing ini goes first: readers take the first entry whose name contains ".ini".
    std::stable_partition(names.begin(), names.end(), IsIniName);
    TSkinWriter writer;
    std::size_t inis = 0;
    for (const auto& name : names) {
        std::string path = AddTrailingSlash(folder) + name;
        if (!FileExists(path)) {
            Warn(Format("skipping \"%s\": not a file", path.c_str()));
            continue;
        }
        if (SameFile(path, target))
            continue; // the previous output inside the folder being packed
        inis += IsIniName(name) ? 1 : 0;
        writer.Add(name, ReadFileBytes(path));
    }
    if (inis == 0)
        Warn(Format("\"%s\" has no .ini file; the skin will have no settings", folder.c_str()));
    else if (inis > 1)
        Warn(Format("\"%s\" has %zu .ini files; only the first is read", folder.c_str(), inis));
    AtomicWriteFile(target, writer.Build());
    return 0;
}

// Opens the file or throws with the reason it cannot be used.
TSkinContent OpenSkin(const std::string& file) {
    TSkinContent skin;
    switch (skin.Load(file)) {
    case TSkinContent::TLoadResult::NoFile:
        throw EFileError(Format("\"%s\" does not exist or is not a file.", file.c_str()));
    case TSkinContent::TLoadResult::Rejected:
        throw EPelloraError(skin.ErrorText()); // it names the file
    case TSkinContent::TLoadResult::Loaded:
        break;
    }
    return skin;
}

// The format decodes a cut-off stream as if zero bits followed; the content is then wrong.
std::string TruncatedText(const std::string& file) {
    return Format("\"%s\" is truncated: its compressed data ends before the content it "
                  "declares",
                  file.c_str());
}

int List(const std::string& file) {
    TSkinContent skin = OpenSkin(file);
    const TSkinReader& reader = skin.Reader();
    int result = 0;
    for (std::size_t i = 0; i < reader.Count(); ++i) {
        std::printf("%d\t%s\n", reader.EntrySizes()[i], reader.EntryNames()[i].c_str());
        if (!reader.Entry(i)) {
            Warn(Format("entry \"%s\" reaches past the end of the data",
                        reader.EntryNames()[i].c_str()));
            result = 1;
        }
    }
    if (reader.IsTruncated()) {
        Warn(TruncatedText(file));
        result = 1;
    }
    return result;
}

int Unpack(const std::string& file, const std::string& folder) {
    TSkinContent skin = OpenSkin(file);
    const TSkinReader& reader = skin.Reader();
    // Check everything before writing anything: a bad container leaves no partial output.
    if (reader.IsTruncated())
        throw EPelloraError(TruncatedText(file));
    std::set<std::string> seen;
    for (std::size_t i = 0; i < reader.Count(); ++i) {
        const std::string& name = reader.EntryNames()[i];
        if (name.empty() || name == "." || name == ".." ||
            name.find_first_of(std::string_view("/\0", 2)) != std::string::npos)
            throw EPelloraError(Format("entry %zu has a name that is not a plain file name: \"%s\"",
                                       i + 1, name.c_str()));
        if (!seen.insert(name).second)
            throw EPelloraError(Format("entry \"%s\" appears twice", name.c_str()));
        if (!reader.Entry(i))
            throw EPelloraError(
                Format("entry \"%s\" reaches past the end of the data", name.c_str()));
    }
    if (!ForceDirectories(folder))
        throw EFileError(Format("Cannot create the folder \"%s\".", folder.c_str()));
    for (std::size_t i = 0; i < reader.Count(); ++i)
        AtomicWriteFile(AddTrailingSlash(folder) + reader.EntryNames()[i], *reader.Entry(i));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 3 && args[0] == "pack")
            return Pack(args[1], args[2]);
        if (args.size() == 2 && args[0] == "list")
            return List(args[1]);
        if (args.size() == 3 && args[0] == "unpack")
            return Unpack(args[1], args[2]);
    } catch (const std::exception& error) {
        Warn(error.what());
        return 1;
    }
    std::fputs(Usage, stderr);
    return 2;
}
