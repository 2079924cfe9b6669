#include "platform/FileUtil.h"

#include "platform/Errors.h"
#include "platform/StrUtils.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace pellora {

namespace {

std::string ErrorText(int error) {
    return std::strerror(error);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// The file a replacement should land in: a link is replaced at its target.
std::string ReplacementTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr)
            return resolved;
    }
    return path;
}

// Temporary files of replacements are named "<file>.~<process id>-<counter>".
std::string TempFileName(const std::string& target, unsigned counter) {
    return Format("%s.~%d-%u", target.c_str(), static_cast<int>(::getpid()), counter);
}

// The process that wrote the temporary file `name` of `fileName`, or 0 when it is not one.
pid_t TempFileWriter(std::string_view name, std::string_view fileName) {
    if (name.size() <= fileName.size() + 2 || name.substr(0, fileName.size()) != fileName ||
        name.substr(fileName.size(), 2) != ".~")
        return 0;
    std::string_view rest = name.substr(fileName.size() + 2);
    std::size_t dash = rest.find('-');
    if (dash == std::string_view::npos || dash + 1 >= rest.size())
        return 0;
    for (char c : rest.substr(dash + 1))
        if (c < '0' || c > '9')
            return 0;
    std::optional<std::int32_t> pid = ParseInt32(rest.substr(0, dash));
    return pid && *pid > 0 && rest.front() != '+' ? static_cast<pid_t>(*pid) : 0;
}

// A write killed before its rename leaves its temporary file behind; the next replacement
// of the same file removes those whose writer is gone. A live writer's file is left alone.
void RemoveStaleTemporaries(const std::string& folder, const std::string& fileName) {
    for (const std::string& name : ListFolder(folder)) {
        pid_t writer = TempFileWriter(name, fileName);
        if (writer == 0 || writer == ::getpid())
            continue;
        if (::kill(writer, 0) != 0 && errno == ESRCH)
            ::unlink((folder + name).c_str());
    }
}

} // namespace

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool ForceDirectories(const std::string& path) {
    std::string folder = RemoveTrailingSlash(path);
    if (folder.empty())
        return false;
    if (DirectoryExists(folder))
        return true;
    std::string parent = RemoveTrailingSlash(ExtractFilePath(folder));
    if (!parent.empty() && parent != folder && !ForceDirectories(parent))
        return false;
    if (::mkdir(folder.c_str(), 0777) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    if (DirectoryExists(folder))
        return true;
    errno = ENOTDIR; // something else stands where the folder should be
    return false;
}

std::string ReadFileBytes(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw EFileError(Format("Cannot open \"%s\": %s", path.c_str(), ErrorText(errno).c_str()));
    // Read straight into the result, sized by the file; grow if it grew meanwhile.
    struct stat st {};
    std::size_t capacity = 65536;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        capacity = static_cast<std::size_t>(st.st_size) + 1;
    std::string bytes(capacity, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size())
            bytes.resize(bytes.size() * 2);
        ssize_t got = ::read(fd, bytes.data() + used, bytes.size() - used);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            int error = errno;
            ::close(fd);
            throw EFileError(
                Format("Cannot read \"%s\": %s", path.c_str(), ErrorText(error).c_str()));
        }
        if (got == 0)
            break;
        used += static_cast<std::size_t>(got);
    }
    ::close(fd);
    bytes.resize(used);
    return bytes;
}

void AtomicWriteFile(const std::string& path, std::string_view bytes) {
    const std::string target = ReplacementTarget(path);
    const std::string folder = ExtractFilePath(target);
    if (!folder.empty() && !ForceDirectories(folder))
        throw EFileError(Format("Cannot create the folder \"%s\": %s", folder.c_str(),
                                ErrorText(errno).c_str()));

    struct stat old {};
    const bool hadOld = ::stat(target.c_str(), &old) == 0;

    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = TempFileName(target, counter++);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        throw EFileError(Format("Cannot write \"%s\": %s", path.c_str(), ErrorText(errno).c_str()));

    bool ok = WriteAll(fd, bytes);
    if (ok && hadOld)
        ok = ::fchmod(fd, old.st_mode & 07777) == 0 || errno == EPERM;
    if (ok)
        ok = ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        throw EFileError(Format("Cannot write \"%s\": %s", path.c_str(), ErrorText(error).c_str()));
    }
    RemoveStaleTemporaries(folder, ExtractFileName(target));
    // Make the rename and the removals durable.
    int dirFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

std::vector<std::string> SplitTextLines(std::string_view bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    const std::size_t size = bytes.size();
    for (std::size_t i = 0; i < size; ++i) {
        char c = bytes[i];
        if (c != '\r' && c != '\n')
            continue;
        lines.emplace_back(bytes.substr(start, i - start));
        if (c == '\r' && i + 1 < size && bytes[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines.emplace_back(bytes.substr(start));
    return lines;
}

std::string JoinTextLines(const std::vector<std::string>& lines) {
    std::size_t total = 0;
    for (const auto& line : lines)
        total += line.size() + 2;
    std::string bytes;
    bytes.reserve(total);
    for (const auto& line : lines) {
        bytes += line;
        bytes += "\r\n";
    }
    return bytes;
}

std::vector<std::string> ReadTextLines(const std::string& path) {
    return SplitTextLines(ReadFileBytes(path));
}

void WriteTextLines(const std::string& path, const std::vector<std::string>& lines) {
    AtomicWriteFile(path, JoinTextLines(lines));
}

void CopyTextFile(const std::string& source, const std::string& target) {
    WriteTextLines(target, ReadTextLines(source));
}

std::string AddTrailingSlash(std::string_view path) {
    std::string result(path);
    if (result.empty() || result.back() != '/')
        result += '/';
    return result;
}

std::string RemoveTrailingSlash(std::string_view path) {
    std::string result(path);
    if (result.size() > 1 && result.back() == '/')
        result.pop_back();
    return result;
}

std::string ExtractFilePath(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string ExtractFileName(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string ChangeFileExt(std::string_view path, std::string_view ext) {
    std::size_t slash = path.rfind('/');
    std::size_t dot = path.rfind('.');
    std::string result(path);
    if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash))
        result.resize(dot);
    result += ext;
    return result;
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr)
        return names;
    while (struct dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(std::move(name));
    }
    ::closedir(dir);
    return names;
}

std::string FindIgnoreCase(const std::string& folder, std::string_view name) {
    const std::string base = AddTrailingSlash(folder);
    std::string exact = base + std::string(name);
    if (PathExists(exact))
        return exact;
    std::string found;
    for (const auto& entry : ListFolder(folder))
        // Sorted choice keeps the answer stable when several spellings exist.
        if (SameText(entry, name) && (found.empty() || entry < found))
            found = entry;
    return found.empty() ? std::string() : base + found;
}

std::string ExecutablePath() {
    char buffer[PATH_MAX];
    ssize_t size = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (size <= 0)
        return std::string();
    return std::string(buffer, static_cast<std::size_t>(size));
}

} // namespace pellora
