#include "platform/VersionInfo.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <elf.h>
#include <fstream>
#include <optional>
#include <vector>

namespace pellora {

namespace {

constexpr const char* Unknown = "?";
// More than any real program has; a file claiming more is not read.
constexpr std::uint64_t MaxSections = 1U << 16;
constexpr std::uint64_t MaxNameTable = 1U << 20;
constexpr std::size_t MaxVersionLength = 64;

class TFileReader {
public:
    explicit TFileReader(const std::string& path) : Stream(path, std::ios::binary) {
        if (Stream) {
            Stream.seekg(0, std::ios::end);
            const std::streamoff end = Stream.tellg();
            Size = end > 0 ? static_cast<std::uint64_t>(end) : 0;
        }
    }

    // The bytes at that place, or nothing when the file does not hold them all.
    std::optional<std::vector<char>> Read(std::uint64_t offset, std::uint64_t count) {
        if (!Stream.is_open() || offset > Size || count > Size - offset)
            return std::nullopt;
        std::vector<char> bytes(static_cast<std::size_t>(count));
        Stream.clear();
        Stream.seekg(static_cast<std::streamoff>(offset));
        Stream.read(bytes.data(), static_cast<std::streamsize>(count));
        if (static_cast<std::uint64_t>(Stream.gcount()) != count)
            return std::nullopt;
        return bytes;
    }

    template <typename T> std::optional<T> ReadStruct(std::uint64_t offset) {
        auto bytes = Read(offset, sizeof(T));
        if (!bytes)
            return std::nullopt;
        T value;
        std::memcpy(&value, bytes->data(), sizeof(T));
        return value;
    }

private:
    std::ifstream Stream;
    std::uint64_t Size = 0;
};

// The version text of a stamp section: printable ASCII up to the first NUL.
std::string StampText(const std::vector<char>& bytes) {
    std::string text;
    for (char c : bytes) {
        if (c == '\0')
            break;
        if (c < 0x20 || c > 0x7E)
            return Unknown;
        text += c;
    }
    return text.empty() ? Unknown : text;
}

template <typename Ehdr, typename Shdr> std::string ReadStamp(TFileReader& file) {
    const auto header = file.ReadStruct<Ehdr>(0);
    if (!header || header->e_shoff == 0 || header->e_shentsize != sizeof(Shdr))
        return Unknown;
    // Files with very many sections keep the real count and name table index in section 0.
    std::uint64_t count = header->e_shnum;
    std::uint64_t namesIndex = header->e_shstrndx;
    if (count == 0 || namesIndex == SHN_XINDEX) {
        const auto first = file.ReadStruct<Shdr>(header->e_shoff);
        if (!first)
            return Unknown;
        if (count == 0)
            count = first->sh_size;
        if (namesIndex == SHN_XINDEX)
            namesIndex = first->sh_link;
    }
    if (count == 0 || count > MaxSections || namesIndex >= count)
        return Unknown;
    const auto table = file.Read(header->e_shoff, count * sizeof(Shdr));
    if (!table)
        return Unknown;
    auto section = [&table](std::uint64_t index) {
        Shdr entry;
        std::memcpy(&entry, table->data() + index * sizeof(Shdr), sizeof(Shdr));
        return entry;
    };
    const Shdr namesSection = section(namesIndex);
    if (namesSection.sh_size > MaxNameTable)
        return Unknown;
    const auto names = file.Read(namesSection.sh_offset, namesSection.sh_size);
    if (!names)
        return Unknown;
    const std::size_t wantedLength = std::strlen(VersionSectionName);
    for (std::uint64_t i = 0; i < count; ++i) {
        const Shdr entry = section(i);
        if (entry.sh_type != SHT_PROGBITS || entry.sh_name >= names->size())
            continue;
        const char* name = names->data() + entry.sh_name;
        const std::size_t room = names->size() - entry.sh_name;
        if (room <= wantedLength || std::memcmp(name, VersionSectionName, wantedLength + 1) != 0)
            continue;
        const std::uint64_t length = std::min<std::uint64_t>(entry.sh_size, MaxVersionLength);
        const auto bytes = file.Read(entry.sh_offset, length);
        return bytes ? StampText(*bytes) : Unknown;
    }
    return Unknown;
}

} // namespace

std::string ReadVersionInfo(const std::string& executable) {
    TFileReader file(executable);
    const auto ident = file.Read(0, EI_NIDENT);
    if (!ident || std::memcmp(ident->data(), ELFMAG, SELFMAG) != 0)
        return Unknown;
    const unsigned char nativeOrder =
        std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;
    if (static_cast<unsigned char>((*ident)[EI_DATA]) != nativeOrder)
        return Unknown;
    switch ((*ident)[EI_CLASS]) {
    case ELFCLASS64:
        return ReadStamp<Elf64_Ehdr, Elf64_Shdr>(file);
    case ELFCLASS32:
        return ReadStamp<Elf32_Ehdr, Elf32_Shdr>(file);
    default:
        return Unknown;
    }
}

std::string ProgramVersion() {
    return ReadVersionInfo("/proc/self/exe");
}

} // namespace pellora
