#include "platform/FileUtil.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace pellora::test {

namespace {
// Removes the benchmark's temporary root when the program ends, after everything below it.
struct TRoot {
    TRoot() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pellora-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        Path = pattern + "/";
    }
    ~TRoot() { RemoveTree(Path); }
    std::string Path;
};
} // namespace

// The test helpers the benchmarks share put their folders here.
const std::string& TestRoot() {
    static TRoot root;
    return root.Path;
}

} // namespace pellora::test
