#pragma once

#include <string>
#include <vector>

namespace pellora {

struct TSkinEntry {
    std::string Name;
    std::string Bytes;
};

// Builds skin containers that TSkinReader opens. Entries keep the order they are added in;
// readers find the describing ini as the first entry whose name contains ".ini".
class TSkinWriter {
public:
    // Throws EPelloraError for an entry the container cannot hold: an empty name, one
    // with a line break, '/' or NUL, "." or "..", a name that differs from an earlier one
    // only in letter case (readers compare lower-cased names), too many entries or too
    // many bytes in all.
    void Add(std::string name, std::string bytes);

    const std::vector<TSkinEntry>& Entries() const { return Items; }

    // The unpacked layout: header (version 20000, name table length, two zero words), the
    // names each ending in CR LF, the sizes, the bytes.
    std::string BuildUnpacked() const;
    // The container file: unpacked size, then the compressed layout.
    std::string Build() const;

private:
    std::vector<TSkinEntry> Items;
    std::size_t Total = 0;
};

} // namespace pellora
