#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pellora {

bool FileExists(const std::string& path);      // a regular file (links followed)
bool DirectoryExists(const std::string& path); // a folder (links followed)
bool PathExists(const std::string& path);      // anything at all, even a dangling link

// Creates the folder with every missing parent; true when it exists afterwards.
bool ForceDirectories(const std::string& path);

// Whole-file read; throws EFileError when the file cannot be read.
std::string ReadFileBytes(const std::string& path);

// Replaces the file's whole content: the bytes go to a temporary file beside it, which is
// synced and renamed over the old one, so a crash leaves either the old or the new file.
// Missing folders are created; an existing file keeps its permission bits and a link is
// followed to the file it names. Throws EFileError on failure (the old file is untouched).
// Temporary files that killed writers of the same file left behind are removed.
void AtomicWriteFile(const std::string& path, std::string_view bytes);

// Lines end at CR LF, LF or CR; a last line without an ending still counts.
std::vector<std::string> SplitTextLines(std::string_view bytes);
// Every line followed by CR LF, the last one too.
std::string JoinTextLines(const std::vector<std::string>& lines);

std::vector<std::string> ReadTextLines(const std::string& path); // throws EFileError
void WriteTextLines(const std::string& path, const std::vector<std::string>& lines);
// Reads the source as lines and writes them to the target with CR LF endings.
void CopyTextFile(const std::string& source, const std::string& target);

// Path helpers; '/' is the separator.
std::string AddTrailingSlash(std::string_view path);
// Removes one trailing separator but keeps the root "/".
std::string RemoveTrailingSlash(std::string_view path);
std::string ExtractFilePath(std::string_view path); // up to and including the last '/'
std::string ExtractFileName(std::string_view path); // after the last '/'
// Replaces the extension of the file name (from its last '.') with ext, or appends ext.
std::string ChangeFileExt(std::string_view path, std::string_view ext);

// The entry of the folder whose name equals `name`, an exact match first, else one that
// differs only in ASCII letter case; the full path, or empty when there is none.
std::string FindIgnoreCase(const std::string& folder, std::string_view name);

// Names of the folder's entries except "." and ".."; empty when it cannot be read.
std::vector<std::string> ListFolder(const std::string& folder);

// Full path of the running executable.
std::string ExecutablePath();

} // namespace pellora
