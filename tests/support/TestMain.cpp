#include "support/TempDir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>

namespace pellora::test {

namespace {
std::string Root;
}

const std::string& TestRoot() {
    return Root;
}

} // namespace pellora::test

// Every test process gets its own home and XDG folders so no real user data is touched.
int main(int argc, char** argv) {
    using pellora::test::Root;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pellora-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    Root = pattern + "/";
    ::mkdir((Root + "home").c_str(), 0700);
    ::setenv("HOME", (Root + "home").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (Root + "home/.local/share").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (Root + "home/.config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (Root + "home/.cache").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (Root + "home/.local/state").c_str(), 1);
    ::setenv("XDG_DATA_DIRS", (Root + "usr/share").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (Root + "etc/xdg").c_str(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    pellora::test::RemoveTree(Root);
    return result;
}
