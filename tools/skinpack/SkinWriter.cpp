#include "SkinWriter.h"

#include "LzhEncoder.h"
#include "platform/Errors.h"
#include "platform/StrUtils.h"
#include "skins/SkinReader.h"

#include <cstdint>

namespace pellora {

namespace {

void AppendInt32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// What the header, the name table and the sizes of these entries take.
std::size_t IndexSize(const std::vector<TSkinEntry>& items) {
    std::size_t size = 16;
    for (const auto& item : items)
        size += item.Name.size() + 2 + 4;
    return size;
}

} // namespace

void TSkinWriter::Add(std::string name, std::string bytes) {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("\r\n/\0", 4)) != std::string::npos)
        throw EPelloraError(
            Format("\"%s\" cannot be the name of a skin file entry.", name.c_str()));
    for (const auto& item : Items)
        if (SameText(item.Name, name))
            throw EPelloraError(Format("\"%s\" and \"%s\" differ only in letter case.",
                                       item.Name.c_str(), name.c_str()));
    if (Items.size() >= TSkinReader::MaxEntries)
        throw EPelloraError(
            Format("A skin file holds at most %zu entries.", TSkinReader::MaxEntries));
    // Readers refuse larger containers, so a larger one is never written.
    std::size_t total = Total + bytes.size();
    if (bytes.size() > TSkinReader::MaxUnpackedSize ||
        total + IndexSize(Items) + name.size() + 6 > TSkinReader::MaxUnpackedSize)
        throw EPelloraError(Format("The skin file would exceed %u bytes with \"%s\".",
                                   TSkinReader::MaxUnpackedSize, name.c_str()));
    Total = total;
    Items.push_back({std::move(name), std::move(bytes)});
}

std::string TSkinWriter::BuildUnpacked() const {
    std::string table;
    for (const auto& item : Items)
        table.append(item.Name).append("\r\n");
    std::string out;
    out.reserve(IndexSize(Items) + Total);
    AppendInt32(out, static_cast<std::uint32_t>(TSkinReader::Version));
    AppendInt32(out, static_cast<std::uint32_t>(table.size()));
    AppendInt32(out, 0);
    AppendInt32(out, 0);
    out += table;
    for (const auto& item : Items)
        AppendInt32(out, static_cast<std::uint32_t>(item.Bytes.size()));
    for (const auto& item : Items)
        out += item.Bytes;
    return out;
}

std::string TSkinWriter::Build() const {
    std::string unpacked = BuildUnpacked();
    std::string out;
    AppendInt32(out, static_cast<std::uint32_t>(unpacked.size()));
    out += LzhEncode(unpacked);
    return out;
}

} // namespace pellora
