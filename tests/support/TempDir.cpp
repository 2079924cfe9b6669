#include "support/TempDir.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace pellora::test {

namespace {

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    ::remove(path);
    return 0;
}

void MakeParents(const std::string& path) {
    for (std::size_t pos = 1; (pos = path.find('/', pos)) != std::string::npos; ++pos)
        ::mkdir(path.substr(0, pos).c_str(), 0777);
}

} // namespace

TempDir::TempDir() {
    std::string pattern = TestRoot() + "tmp-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    Folder = pattern + "/";
}

TempDir::~TempDir() {
    RemoveTree(Folder);
}

void RemoveTree(const std::string& path) {
    // Make read-only test folders removable again first.
    std::string command = "chmod -R u+rwx '" + path + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0) {
    }
    ::nftw(path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

void PutFile(const std::string& path, const std::string& bytes) {
    MakeParents(path);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string GetFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "<missing>";
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

} // namespace pellora::test
