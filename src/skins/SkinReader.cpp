#include "skins/SkinReader.h"

#include "platform/StrUtils.h"
#include "skins/LZH.h"

namespace pellora {

namespace {

std::int32_t ReadInt32(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return static_cast<std::int32_t>(value);
}

// Lines end at CR LF, LF or CR, and a final break starts no further line. Stops counting
// past `limit` so that a table of nothing but line breaks costs no memory.
std::size_t CountLines(std::string_view text, std::size_t limit) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size() && count <= limit; ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        ++count;
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
    }
    if (!text.empty() && text.back() != '\r' && text.back() != '\n')
        ++count;
    return count;
}

} // namespace

void TSkinReader::Clear() {
    Opened = false;
    Truncated = false;
    Error.clear();
    HeaderWords = {};
    Names.clear();
    Sizes.clear();
    Offsets.clear();
    Unpacked.clear();
    Unpacked.shrink_to_fit();
    DataStart = 0;
}

bool TSkinReader::Fail(std::string text) {
    Clear();
    Error = std::move(text);
    return false;
}

std::string TSkinReader::Subject() const {
    return FileName.empty() ? std::string("The skin file")
                            : Format("The skin file \"%s\"", FileName.c_str());
}

bool TSkinReader::Open(std::string_view file) {
    Clear();
    if (file.size() < 4)
        return Fail(Subject() + " is too short to be a skin file.");
    const std::uint32_t unpackedSize = static_cast<std::uint32_t>(ReadInt32(file, 0));
    std::string_view stream = file.substr(4);
    if (unpackedSize > MaxUnpackedSize)
        return Fail(Format("%s declares %u bytes of content; at most %u are accepted.",
                           Subject().c_str(), unpackedSize, MaxUnpackedSize));
    if (unpackedSize > MaxRatio * stream.size() + TLZH::LookAhead)
        return Fail(Format("%s is too short for the %u bytes of content it declares.",
                           Subject().c_str(), unpackedSize));
    bool ranPastInput = false;
    std::string unpacked = TLZH::Unpack(unpackedSize, stream, &ranPastInput);
    if (!OpenUnpacked(std::move(unpacked)))
        return false;
    Truncated = ranPastInput;
    return true;
}

bool TSkinReader::OpenUnpacked(std::string unpacked) {
    Clear();
    Unpacked = std::move(unpacked);
    const std::string_view data = Unpacked;

    if (data.size() < 4)
        return Fail(Subject() + " has no header.");
    HeaderWords[0] = ReadInt32(data, 0);
    if (HeaderWords[0] != Version) {
        std::int32_t version = HeaderWords[0];
        Fail(Format("%s has format version %d; only version %d can be read.", Subject().c_str(),
                    version, Version));
        if (OnMessage)
            OnMessage(OldVersionText);
        return false;
    }
    if (data.size() < 16)
        return Fail(Subject() + " has an incomplete header.");
    for (std::size_t i = 1; i < 4; ++i)
        HeaderWords[i] = ReadInt32(data, 4 * i);

    const std::int32_t tableLength = HeaderWords[1];
    if (tableLength < 0 || static_cast<std::uint64_t>(tableLength) > data.size() - 16)
        return Fail(Subject() + " has a name table that is cut off.");
    std::string_view table = data.substr(16, static_cast<std::size_t>(tableLength));
    const std::size_t count = CountLines(table, MaxEntries);
    if (count > MaxEntries)
        return Fail(Format("%s has more than %zu entries.", Subject().c_str(), MaxEntries));
    const std::size_t sizesStart = 16 + table.size();
    if (data.size() - sizesStart < 4 * count)
        return Fail(Subject() + " has entry sizes that are cut off.");

    Names.reserve(count);
    std::size_t start = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (table[i] != '\r' && table[i] != '\n')
            continue;
        Names.push_back(LowerCaseAscii(table.substr(start, i - start)));
        if (table[i] == '\r' && i + 1 < table.size() && table[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < table.size())
        Names.push_back(LowerCaseAscii(table.substr(start)));

    Sizes.reserve(count);
    Offsets.reserve(count);
    std::int64_t offset = 0;
    for (std::size_t i = 0; i < count; ++i) {
        Sizes.push_back(ReadInt32(data, sizesStart + 4 * i));
        Offsets.push_back(offset);
        offset += Sizes.back();
    }
    DataStart = sizesStart + 4 * count;
    Opened = true;
    return true;
}

std::optional<std::string_view> TSkinReader::Entry(std::size_t index) const {
    if (index >= Names.size())
        return std::nullopt;
    const std::int64_t size = Sizes[index];
    const std::int64_t offset = Offsets[index];
    const std::int64_t available = static_cast<std::int64_t>(Unpacked.size() - DataStart);
    // Sizes are not checked against the data when read; an entry that does not fit is absent.
    if (size < 0 || offset < 0 || offset > available || size > available - offset)
        return std::nullopt;
    return std::string_view(Unpacked).substr(DataStart + static_cast<std::size_t>(offset),
                                             static_cast<std::size_t>(size));
}

bool TSkinReader::Extract(std::string_view name, std::string& target) const {
    target.clear();
    const std::string wanted = LowerCaseAscii(name);
    for (std::size_t i = 0; i < Names.size(); ++i) {
        if (Names[i] != wanted)
            continue;
        auto bytes = Entry(i);
        if (!bytes)
            return false;
        target.assign(*bytes);
        return true;
    }
    return false;
}

std::optional<std::string> TSkinReader::ExtractByPart(std::string_view part,
                                                      std::string& target) const {
    target.clear();
    for (std::size_t i = 0; i < Names.size(); ++i) {
        if (Names[i].find(part) == std::string::npos)
            continue;
        if (auto bytes = Entry(i))
            target.assign(*bytes);
        return Names[i];
    }
    return std::nullopt;
}

} // namespace pellora
