#pragma once

#include <memory>
#include <string>

namespace pellora {

// An exclusive advisory lock (flock) on a lock file, held from construction to destruction.
// Other processes that lock the same file wait, and so do other threads of this process; the
// thread that holds it may take it again (through any object and any spelling of the path),
// so nested calls never wait for themselves. The kernel releases the lock when its holder
// dies, so a killed process never leaves the file locked.
class FileLock {
public:
    // Blocks until the lock is held; creates the lock file when missing. Throws EFileError
    // when the lock file can be neither opened nor created.
    explicit FileLock(const std::string& lockPath);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Removes a lock file nobody holds: it is taken first, so a holder is waited for.
    static void RemoveLockFile(const std::string& lockPath);

    struct Holder;

private:
    std::shared_ptr<Holder> Held;
};

// Removes the lock files ("*.lock") of the folder and of its subfolders down to `depth`
// levels, so that none stays behind once the program ends; one that cannot be is left.
void RemoveLockFiles(const std::string& folder, int depth);

} // namespace pellora
