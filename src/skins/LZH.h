#pragma once

#include "platform/Errors.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace pellora {

// The decompressor could not get or release its working tables.
class ElzhException : public EPelloraError {
public:
    using EPelloraError::EPelloraError;
};

inline constexpr const char* LzhNoMemoryText = "LZH : Cannot get memory for dictionary tables";
// Kept with its sibling for callers that report by text; releasing cannot fail here.
inline constexpr const char* LzhFreeErrorText = "LZH : Error freeing memory for dictionary tables";

// LZHUF decoding (LZSS over a 4096-byte ring with adaptive Huffman codes, 1988 format).
// Any bit sequence decodes to something: damaged input gives wrong bytes, never a fault,
// and input that ends early reads as zero bits.
class TLZH {
public:
    // The stream's fixed parameters; the encoder must use the same ones.
    static constexpr int RingSize = 4096;                         // N
    static constexpr int LookAhead = 60;                          // F
    static constexpr int Threshold = 2;                           // longest run sent as literals
    static constexpr int CharCodes = 256 - Threshold + LookAhead; // 314 literal/length codes
    static constexpr int TreeSize = 2 * CharCodes - 1;            // 627 nodes
    static constexpr int Root = TreeSize - 1;                     // 626
    static constexpr unsigned MaxFreq = 0x8000;                   // root count that halves all
    static constexpr int FirstWrite = RingSize - LookAhead;       // 4036 blanks before the text

    // Fills up to `size` bytes of `buffer`; returns how many, 0 at the end of the input.
    using TReadProc = std::function<std::size_t(char* buffer, std::size_t size)>;
    // Takes the next `size` decoded bytes.
    using TWriteProc = std::function<void(const char* data, std::size_t size)>;

    // Decodes until unpackedSize bytes are written. A final match that runs past that size
    // is written whole (at most LookAhead - 1 extra bytes), as the stream format always did.
    // Throws ElzhException when the working tables cannot be allocated.
    void Unpack(std::uint32_t unpackedSize, const TReadProc& read, const TWriteProc& write);

    // The whole stream in memory; the result is exactly unpackedSize bytes long (bytes a
    // damaged stream produces past it are dropped). The caller bounds unpackedSize. With
    // ranPastInput, tells whether the decoding needed bits the input did not hold.
    static std::string Unpack(std::uint32_t unpackedSize, std::string_view input,
                              bool* ranPastInput = nullptr);

    // Whether the last Unpack through procedures needed bits past the end of its input,
    // that is, decoded zero bits in their place: a truncated stream.
    bool RanPastInput() const { return PastInput; }

private:
    bool PastInput = false;
};

} // namespace pellora
