// Arbitrary bytes as an LZHUF stream. Input: a 2-byte output size (14 bits used), a 1-byte read
// chunk size, then the stream. The in-memory decoding and the one through the reader and writer
// procedures must agree, and both must give the recorded size whatever the stream holds. Both
// must also agree on whether the stream ran out: a stream that did not gives the same bytes
// with anything appended, and one that did still runs out with its last byte taken away.

#include "skins/LZH.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace pellora;

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "lzh: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    // Up to 16 KiB of output keeps each run short and still wraps the ring a few times.
    const std::uint32_t unpackedSize = static_cast<std::uint32_t>(data[0] | data[1] << 8) & 0x3FFF;
    const std::size_t chunk = 1 + data[2];
    const std::string stream(reinterpret_cast<const char*>(data) + 3, size - 3);

    bool ranPast = false;
    const std::string inMemory = TLZH::Unpack(unpackedSize, stream, &ranPast);
    if (inMemory.size() != unpackedSize)
        Fail("in-memory size");
    if (unpackedSize > 0 && stream.empty() && !ranPast)
        Fail("an empty stream did not run out");
    bool again = false;
    if (!ranPast) {
        if (TLZH::Unpack(unpackedSize, stream + "\xA5\x5A\xFF", &again) != inMemory || again)
            Fail("bytes after a complete stream changed its decoding");
    } else if (!stream.empty()) {
        TLZH::Unpack(unpackedSize, stream.substr(0, stream.size() - 1), &again);
        if (!again)
            Fail("a shorter stream did not run out");
    }

    std::string written;
    std::size_t at = 0;
    TLZH lzh;
    lzh.Unpack(
        unpackedSize,
        [&](char* buffer, std::size_t room) {
            std::size_t n = std::min({room, chunk, stream.size() - at});
            stream.copy(buffer, n, at);
            at += n;
            return n;
        },
        [&](const char* bytes, std::size_t n) {
            if (n == 0)
                Fail("empty write");
            written.append(bytes, n);
        });
    // Only a final match may run past the size, by less than its longest length.
    if (written.size() < unpackedSize || written.size() >= unpackedSize + TLZH::LookAhead)
        Fail("written size");
    if (written.compare(0, unpackedSize, inMemory) != 0)
        Fail("the two decodings differ");
    if (lzh.RanPastInput() != ranPast)
        Fail("the two decodings differ on running out");
    return 0;
}
