#pragma once

#include <string>

namespace pellora::test {

// A fresh folder below the test's temporary root, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, ending with '/'.
    const std::string& Path() const { return Folder; }
    // Path() + relative.
    std::string operator/(const std::string& relative) const { return Folder + relative; }

private:
    std::string Folder;
};

// Writes bytes to a file, creating its folders (test set-up, not the code under test).
void PutFile(const std::string& path, const std::string& bytes);
// The file's bytes, or "<missing>" when it cannot be read.
std::string GetFile(const std::string& path);
void RemoveTree(const std::string& path);

// The temporary folder that HOME and the XDG variables point into for this process.
const std::string& TestRoot();

} // namespace pellora::test
