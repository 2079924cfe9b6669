#include "skins/LZH.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace pellora {

namespace {

constexpr int N = TLZH::RingSize;
constexpr int F = TLZH::LookAhead;
constexpr unsigned T = TLZH::TreeSize;
constexpr unsigned NChar = TLZH::CharCodes;
constexpr unsigned R = TLZH::Root;

// Indexed by the next eight input bits: the upper six bits of a match position, and how
// many of the eight bits its code really takes (3 to 8; the rest belong to the lower bits).
// clang-format off
constexpr std::uint8_t DCode[256] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
    0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02,
    0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03,
    0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05,
    0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07,
    0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x09, 0x09, 0x09, 0x09, 0x09, 0x09, 0x09, 0x09,
    0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0A, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B,
    0x0C, 0x0C, 0x0C, 0x0C, 0x0D, 0x0D, 0x0D, 0x0D, 0x0E, 0x0E, 0x0E, 0x0E, 0x0F, 0x0F, 0x0F, 0x0F,
    0x10, 0x10, 0x10, 0x10, 0x11, 0x11, 0x11, 0x11, 0x12, 0x12, 0x12, 0x12, 0x13, 0x13, 0x13, 0x13,
    0x14, 0x14, 0x14, 0x14, 0x15, 0x15, 0x15, 0x15, 0x16, 0x16, 0x16, 0x16, 0x17, 0x17, 0x17, 0x17,
    0x18, 0x18, 0x19, 0x19, 0x1A, 0x1A, 0x1B, 0x1B, 0x1C, 0x1C, 0x1D, 0x1D, 0x1E, 0x1E, 0x1F, 0x1F,
    0x20, 0x20, 0x21, 0x21, 0x22, 0x22, 0x23, 0x23, 0x24, 0x24, 0x25, 0x25, 0x26, 0x26, 0x27, 0x27,
    0x28, 0x28, 0x29, 0x29, 0x2A, 0x2A, 0x2B, 0x2B, 0x2C, 0x2C, 0x2D, 0x2D, 0x2E, 0x2E, 0x2F, 0x2F,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
};
constexpr std::uint8_t DLen[256] = {
    0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03,
    0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03,
    0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04,
    0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04,
    0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04,
    0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05,
    0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05,
    0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05,
    0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05, 0x05,
    0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06,
    0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06,
    0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06,
    0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07,
    0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07,
    0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07,
    0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08,
};
// clang-format on

// The working state of one decoding; small enough to sit in one allocation.
struct TTables {
    std::uint16_t Freq[T + 1];     // node counts; the extra slot is a sentinel above all
    std::uint16_t Prnt[T + NChar]; // node parents; [T + code] is the leaf of a code
    std::uint16_t Son[T];          // left child (right = left + 1); >= T marks a leaf
    std::uint8_t Ring[N + F - 1];  // the last N bytes written
};

// Every code starts with count 1; internal nodes pair the nodes before them in order.
void StartHuff(TTables& t) {
    for (unsigned i = 0; i < NChar; ++i) {
        t.Freq[i] = 1;
        t.Son[i] = static_cast<std::uint16_t>(i + T);
        t.Prnt[i + T] = static_cast<std::uint16_t>(i);
    }
    for (unsigned i = 0, j = NChar; j <= R; i += 2, ++j) {
        t.Freq[j] = static_cast<std::uint16_t>(t.Freq[i] + t.Freq[i + 1]);
        t.Son[j] = static_cast<std::uint16_t>(i);
        t.Prnt[i] = t.Prnt[i + 1] = static_cast<std::uint16_t>(j);
    }
    t.Freq[T] = 0xFFFF;
    t.Prnt[R] = 0;
}

// Halves every leaf count (rounding up) and builds the tree again from the leaves.
void Reconst(TTables& t) {
    unsigned j = 0;
    for (unsigned i = 0; i < T; ++i) {
        if (t.Son[i] >= T) {
            t.Freq[j] = static_cast<std::uint16_t>((t.Freq[i] + 1u) / 2u);
            t.Son[j] = t.Son[i];
            ++j;
        }
    }
    for (unsigned i = 0, j2 = NChar; j2 < T; i += 2, ++j2) {
        unsigned f = t.Freq[i] + t.Freq[i + 1];
        t.Freq[j2] = static_cast<std::uint16_t>(f);
        unsigned k = j2 - 1;
        while (f < t.Freq[k])
            --k;
        ++k;
        std::size_t moved = j2 - k;
        std::memmove(&t.Freq[k + 1], &t.Freq[k], moved * sizeof t.Freq[0]);
        t.Freq[k] = static_cast<std::uint16_t>(f);
        std::memmove(&t.Son[k + 1], &t.Son[k], moved * sizeof t.Son[0]);
        t.Son[k] = static_cast<std::uint16_t>(i);
    }
    for (unsigned i = 0; i < T; ++i) {
        unsigned k = t.Son[i];
        t.Prnt[k] = static_cast<std::uint16_t>(i);
        if (k < T)
            t.Prnt[k + 1] = static_cast<std::uint16_t>(i);
    }
}

// Counts one more use of the code and restores the order of counts along its path, moving
// a node past its equals when it outgrows them.
void Update(TTables& t, unsigned code) {
    if (t.Freq[R] == TLZH::MaxFreq)
        Reconst(t);
    unsigned c = t.Prnt[code + T];
    do {
        unsigned k = ++t.Freq[c];
        unsigned l = c + 1;
        if (k > t.Freq[l]) {
            while (k > t.Freq[++l]) {
            }
            --l;
            t.Freq[c] = t.Freq[l];
            t.Freq[l] = static_cast<std::uint16_t>(k);

            unsigned i = t.Son[c];
            t.Prnt[i] = static_cast<std::uint16_t>(l);
            if (i < T)
                t.Prnt[i + 1] = static_cast<std::uint16_t>(l);

            unsigned j = t.Son[l];
            t.Son[l] = static_cast<std::uint16_t>(i);
            t.Prnt[j] = static_cast<std::uint16_t>(c);
            if (j < T)
                t.Prnt[j + 1] = static_cast<std::uint16_t>(c);
            t.Son[c] = static_cast<std::uint16_t>(j);
            c = l;
        }
    } while ((c = t.Prnt[c]) != 0);
}

// Most significant bit first; past the end of the input every byte is zero.
class TBitInput {
public:
    TBitInput(std::string_view first, const TLZH::TReadProc* read) : Read(read) {
        P = reinterpret_cast<const unsigned char*>(first.data());
        End = P + first.size();
        if (Read)
            Chunk = std::make_unique_for_overwrite<char[]>(ChunkSize);
    }

    // Tops the buffer up to at least 57 bits.
    void Refill() {
        while (Count <= 56) {
            if (P == End)
                NextChunk();
            std::uint64_t byte = 0;
            if (P != End)
                byte = *P++;
            else
                ++Padding;
            Buffer |= byte << (56 - Count);
            Count += 8;
        }
    }
    // Whether bits were taken that the input did not hold (only read ahead is no harm).
    bool RanPastEnd() const { return static_cast<std::uint64_t>(Count) < 8 * Padding; }
    unsigned Bit() {
        if (Count == 0)
            Refill();
        unsigned bit = static_cast<unsigned>(Buffer >> 63);
        Buffer <<= 1;
        --Count;
        return bit;
    }
    // 1 to 8 bits; the caller has made sure they are buffered.
    unsigned Take(int bits) {
        unsigned value = static_cast<unsigned>(Buffer >> (64 - bits));
        Buffer <<= bits;
        Count -= bits;
        return value;
    }
    int Buffered() const { return Count; }

private:
    static constexpr std::size_t ChunkSize = 65536;

    void NextChunk() {
        if (!Read || Ended)
            return;
        std::size_t got = (*Read)(Chunk.get(), ChunkSize);
        if (got == 0 || got > ChunkSize) {
            Ended = true;
            return;
        }
        P = reinterpret_cast<const unsigned char*>(Chunk.get());
        End = P + got;
    }

    const TLZH::TReadProc* Read;
    std::unique_ptr<char[]> Chunk;
    bool Ended = false;
    const unsigned char* P;
    const unsigned char* End;
    std::uint64_t Buffer = 0;
    int Count = 0;
    std::uint64_t Padding = 0; // zero bytes put in after the end of the input
};

std::unique_ptr<TTables> NewTables() {
    // Value-initialised: a damaged stream can copy from ring bytes never written, and
    // those must read as zeros, not as whatever the heap held.
    std::unique_ptr<TTables> tables(new (std::nothrow) TTables());
    if (!tables)
        throw ElzhException(LzhNoMemoryText);
    return tables;
}

// Decodes into the ring and hands every finished stretch of it to flush(data, size).
template <class Flush>
void Decode(TTables& t, TBitInput& in, std::uint32_t unpackedSize, Flush&& flush) {
    StartHuff(t);
    std::memset(t.Ring, ' ', TLZH::FirstWrite);
    unsigned r = TLZH::FirstWrite;
    unsigned flushed = r;
    const auto put = [&](std::uint8_t byte) {
        t.Ring[r] = byte;
        r = (r + 1) & (N - 1);
        if (r == 0) {
            flush(reinterpret_cast<const char*>(t.Ring + flushed), N - flushed);
            flushed = 0;
        }
    };
    std::uint64_t count = 0;
    while (count < unpackedSize) {
        unsigned c = t.Son[R];
        while (c < T)
            c = t.Son[c + in.Bit()];
        c -= T;
        Update(t, c);
        if (c < 256) {
            put(static_cast<std::uint8_t>(c));
            ++count;
            continue;
        }
        // A match: an 8-bit lookup gives the upper six position bits and the code's length.
        if (in.Buffered() < 14)
            in.Refill();
        unsigned i = in.Take(8);
        unsigned high = static_cast<unsigned>(DCode[i]) << 6;
        int extra = DLen[i] - 2;
        i = (i << extra) | in.Take(extra);
        unsigned position = high | (i & 0x3F);
        unsigned from = (r - position - 1) & (N - 1);
        unsigned length = c - 255 + TLZH::Threshold;
        for (unsigned k = 0; k < length; ++k)
            put(t.Ring[(from + k) & (N - 1)]);
        count += length;
    }
    if (r != flushed)
        flush(reinterpret_cast<const char*>(t.Ring + flushed), r - flushed);
}

} // namespace

void TLZH::Unpack(std::uint32_t unpackedSize, const TReadProc& read, const TWriteProc& write) {
    PastInput = false;
    if (unpackedSize == 0)
        return;
    std::unique_ptr<TTables> tables = NewTables();
    TBitInput in({}, &read);
    Decode(*tables, in, unpackedSize,
           [&](const char* data, std::size_t size) { write(data, size); });
    PastInput = in.RanPastEnd();
}

std::string TLZH::Unpack(std::uint32_t unpackedSize, std::string_view input, bool* ranPastInput) {
    std::string output;
    if (ranPastInput)
        *ranPastInput = false;
    if (unpackedSize == 0)
        return output;
    std::unique_ptr<TTables> tables = NewTables();
    output.reserve(unpackedSize);
    TBitInput in(input, nullptr);
    Decode(*tables, in, unpackedSize, [&](const char* data, std::size_t size) {
        output.append(data, std::min<std::size_t>(size, unpackedSize - output.size()));
    });
    if (ranPastInput)
        *ranPastInput = in.RanPastEnd();
    return output;
}

} // namespace pellora
