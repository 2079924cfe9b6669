// Arbitrary bytes as an executable file whose stamped version is read. The result is "?" or
// a short printable text, whatever the file claims about its sections.

#include "platform/VersionInfo.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

using namespace pellora;

namespace {

[[noreturn]] void Fail(const char* what, const std::string& version) {
    std::fprintf(stderr, "version info: %s: \"%s\"\n", what, version.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A file in memory: the reader opens it by path as it opens the program.
    const int fd = ::memfd_create("fuzz-version", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    const std::string version = ReadVersionInfo("/proc/self/fd/" + std::to_string(fd));
    ::close(fd);
    if (version.empty() || version.size() > 64)
        Fail("length out of bounds", version);
    for (char c : version)
        if (c < 0x20 || c > 0x7E)
            Fail("unprintable character", version);
    return 0;
}
