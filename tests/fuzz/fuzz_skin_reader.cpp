// Arbitrary bytes as a skin container. Input: one mode byte, then either a packed skin file
// (even mode) or an unpacked container (odd mode, so the layout itself gets explored).
// Every entry found by name must be the entry found by index, and reads stay in bounds.

#include "skins/LZH.h"
#include "skins/SkinReader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace pellora;

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "skin reader: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    TSkinReader reader;
    bool warned = false;
    reader.OnMessage = [&](const std::string& text) {
        if (text != TSkinReader::OldVersionText)
            Fail("message text");
        warned = true;
    };
    const bool opened = data[0] % 2 ? reader.OpenUnpacked(bytes) : reader.Open(bytes);
    if (!opened) {
        if (reader.ErrorText().empty() || reader.Count() != 0)
            Fail("refused without a reason or with entries");
        return 0;
    }
    if (warned || reader.Count() > TSkinReader::MaxEntries ||
        reader.EntrySizes().size() != reader.Count())
        Fail("accepted state");

    std::string target;
    for (std::size_t i = 0; i < reader.Count(); ++i) {
        const std::string& name = reader.EntryNames()[i];
        auto entry = reader.Entry(i);
        if (entry && static_cast<std::int64_t>(entry->size()) != reader.EntrySizes()[i])
            Fail("entry size");
        // Extract finds the first entry of that name.
        std::size_t first = 0;
        while (reader.EntryNames()[first] != name)
            ++first;
        auto expected = reader.Entry(first);
        bool found = reader.Extract(name, target);
        if (found != expected.has_value() || (found && target != *expected) ||
            (!found && !target.empty()))
            Fail("Extract");
        if (!name.empty()) {
            auto byPart = reader.ExtractByPart(name.substr(name.size() / 2), target);
            if (!byPart || byPart->find(name.substr(name.size() / 2)) == std::string::npos)
                Fail("ExtractByPart");
        }
    }
    if (!reader.ExtractByPart("\x01\x02 not there", target) && !target.empty())
        Fail("ExtractByPart target");
    return 0;
}
