#include "platform/FileLock.h"

#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace pellora {

// One lock file as this process holds it: Turn makes the other threads of the process wait,
// the flock on Fd the other processes.
struct FileLock::Holder {
    std::mutex Turn;
    std::atomic<std::thread::id> Owner{};
    int Depth = 0; // touched by the owner only
    int Fd = -1;
};

namespace {

using FileId = std::pair<dev_t, ino_t>;

// The lock files this process has met, by the file's identity, so that every spelling of a
// path meets the same holder. Entries stay for the run: there are a handful at most. The
// flock state is per process anyway; this table is only its in-process half.
struct HolderTable {
    std::mutex Lock;
    std::map<FileId, std::shared_ptr<FileLock::Holder>> Holders;
};

HolderTable& Table() {
    static HolderTable table;
    return table;
}

[[noreturn]] void Fail(const std::string& path, int error) {
    throw EFileError(Format("Cannot lock \"%s\": %s", path.c_str(), std::strerror(error)));
}

int OpenLockFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    // flock needs no write access: a lock file someone else made read-only still works.
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
        const int refused = errno;
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
        // No such file to fall back on: why it could not be made is what the user must hear
        // (a read-only folder, say), not that it is missing.
        if (fd < 0 && errno == ENOENT)
            errno = refused;
    }
    if (fd < 0)
        Fail(path, errno);
    return fd;
}

FileId IdOf(int fd, const std::string& path) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int error = errno;
        ::close(fd);
        Fail(path, error);
    }
    return {st.st_dev, st.st_ino};
}

// The path still names the file locked through fd.
bool StillThere(const FileId& id, const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && st.st_dev == id.first && st.st_ino == id.second;
}

std::shared_ptr<FileLock::Holder> HolderOf(const FileId& id) {
    HolderTable& table = Table();
    std::lock_guard<std::mutex> guard(table.Lock);
    std::shared_ptr<FileLock::Holder>& slot = table.Holders[id];
    if (!slot)
        slot = std::make_shared<FileLock::Holder>();
    return slot;
}

} // namespace

FileLock::FileLock(const std::string& lockPath) {
    for (;;) {
        const int fd = OpenLockFile(lockPath);
        const FileId id = IdOf(fd, lockPath);
        std::shared_ptr<Holder> holder = HolderOf(id);
        if (holder->Owner.load() == std::this_thread::get_id()) {
            ++holder->Depth;
            ::close(fd);
            Held = std::move(holder);
            return;
        }
        holder->Turn.lock();
        int result = 0;
        while ((result = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (result != 0) {
            int error = errno;
            holder->Turn.unlock();
            ::close(fd);
            Fail(lockPath, error);
        }
        // A lock file removed (and perhaps made anew) while this one waited locks nobody
        // else out: take the one that is there now.
        if (!StillThere(id, lockPath)) {
            ::flock(fd, LOCK_UN);
            holder->Turn.unlock();
            ::close(fd);
            continue;
        }
        holder->Fd = fd;
        holder->Depth = 1;
        holder->Owner.store(std::this_thread::get_id());
        Held = std::move(holder);
        return;
    }
}

void FileLock::RemoveLockFile(const std::string& lockPath) {
    if (!PathExists(lockPath))
        return;
    // Taken first, so nobody holds it while it goes; whoever waits for it meanwhile finds it
    // gone once it gets it, and takes a new one.
    const FileLock held(lockPath);
    ::unlink(lockPath.c_str());
}

void RemoveLockFiles(const std::string& folder, int depth) {
    for (const std::string& name : ListFolder(folder)) {
        const std::string path = AddTrailingSlash(folder) + name;
        if (name.size() > 5 && name.ends_with(".lock") && FileExists(path)) {
            try {
                FileLock::RemoveLockFile(path);
            } catch (const EFileError&) {
                // One that cannot be taken or removed is only left behind.
            }
        } else if (depth > 0 && DirectoryExists(path)) {
            RemoveLockFiles(path, depth - 1);
        }
    }
}

FileLock::~FileLock() {
    if (--Held->Depth > 0)
        return;
    Held->Owner.store(std::thread::id());
    ::flock(Held->Fd, LOCK_UN);
    ::close(Held->Fd);
    Held->Fd = -1;
    Held->Turn.unlock();
}

} // namespace pellora
