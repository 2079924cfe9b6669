#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellora {

// Reads a skin container: a 4-byte unpacked size and an LZHUF stream that unpacks to a
// 16-byte header (version 20000, name table length, two unused words), a CR LF separated
// name table, one 32-bit size per entry and the entries' bytes back to back.
class TSkinReader {
public:
    static constexpr std::int32_t Version = 20000;
    // More entries than this are refused rather than read.
    static constexpr std::size_t MaxEntries = 1001;
    // No real skin comes near this; a larger declared size is refused before any allocation.
    static constexpr std::uint32_t MaxUnpackedSize = 64u << 20;
    // The densest stream spends 10 bits (a 1-bit code and a 9-bit position) on 60 bytes, so
    // n stream bytes cannot honestly unpack to more than 48 n bytes.
    static constexpr std::uint64_t MaxRatio = 48;
    static constexpr const char* OldVersionText =
        "This is Older Skin File\rPlease update to new version !";

    // Shown to the user when a container of an older format is opened.
    std::function<void(const std::string& text)> OnMessage;
    // The file being read, named in every reason a container is refused for; may be empty.
    std::string FileName;

    // Decompresses and indexes the whole file. False when it is not a usable container; the
    // reason is in ErrorText() and the reader is left empty. Throws ElzhException only when
    // the decompressor cannot get its tables.
    bool Open(std::string_view file);
    // The same for a container that is already unpacked (from its version word on).
    bool OpenUnpacked(std::string unpacked);

    const std::string& ErrorText() const { return Error; }
    bool IsOpen() const { return Opened; }
    // The compressed stream ended before the content it declares: the rest was decoded from
    // zero bits, as the format always did, so the tail of the content is not what was packed.
    bool IsTruncated() const { return Truncated; }

    // The 16-byte header: version, name table length and the two unused words.
    const std::array<std::int32_t, 4>& Header() const { return HeaderWords; }

    std::size_t Count() const { return Names.size(); }
    // Entry names as stored, converted to lower case.
    const std::vector<std::string>& EntryNames() const { return Names; }
    // Sizes as recorded, even for entries whose bytes are not all there.
    const std::vector<std::int32_t>& EntrySizes() const { return Sizes; }
    // The entry's bytes, or nothing when its recorded size would reach past the data.
    std::optional<std::string_view> Entry(std::size_t index) const;

    // Copies the first entry whose name equals the lower-cased name into target; target is
    // emptied first and stays empty when nothing matches. True when an entry matched and
    // its bytes are all there.
    bool Extract(std::string_view name, std::string& target) const;
    // Copies the first entry whose stored name contains part and returns that name;
    // nothing found leaves target empty and returns nothing.
    std::optional<std::string> ExtractByPart(std::string_view part, std::string& target) const;

private:
    void Clear();
    bool Fail(std::string text);
    // "The skin file", with its name when known.
    std::string Subject() const;

    bool Opened = false;
    bool Truncated = false;
    std::string Error;
    std::array<std::int32_t, 4> HeaderWords = {};
    std::vector<std::string> Names;
    std::vector<std::int32_t> Sizes;
    std::vector<std::int64_t> Offsets; // of each entry within the data area
    std::string Unpacked;              // the whole unpacked container
    std::size_t DataStart = 0;         // where the data area begins in Unpacked
};

} // namespace pellora
