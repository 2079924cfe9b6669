#include "LzhEncoder.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace pellora {

namespace {

constexpr int N = 4096;                         // ring size
constexpr int F = 60;                           // longest match
constexpr int Threshold = 2;                    // matches this short are sent as literals
constexpr int Nil = N;                          // no node
constexpr unsigned NChar = 256 - Threshold + F; // literal and length codes
constexpr unsigned T = 2 * NChar - 1;           // tree nodes
constexpr unsigned R = T - 1;                   // root
constexpr unsigned MaxFreq = 0x8000;

// The code of the upper six bits of a match position (most significant bit first in the
// byte) and its length in bits: short codes for near positions.
// clang-format off
constexpr std::uint8_t PLen[64] = {
    0x03, 0x04, 0x04, 0x04, 0x05, 0x05, 0x05, 0x05,
    0x05, 0x05, 0x05, 0x05, 0x06, 0x06, 0x06, 0x06,
    0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06,
    0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07,
    0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07,
    0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07,
    0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08,
    0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08,
};
constexpr std::uint8_t PCode[64] = {
    0x00, 0x20, 0x30, 0x40, 0x50, 0x58, 0x60, 0x68,
    0x70, 0x78, 0x80, 0x88, 0x90, 0x94, 0x98, 0x9C,
    0xA0, 0xA4, 0xA8, 0xAC, 0xB0, 0xB4, 0xB8, 0xBC,
    0xC0, 0xC2, 0xC4, 0xC6, 0xC8, 0xCA, 0xCC, 0xCE,
    0xD0, 0xD2, 0xD4, 0xD6, 0xD8, 0xDA, 0xDC, 0xDE,
    0xE0, 0xE2, 0xE4, 0xE6, 0xE8, 0xEA, 0xEC, 0xEE,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7,
    0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
};
// clang-format on

class TBitOutput {
public:
    explicit TBitOutput(std::string& out) : Out(out) {}

    // The low `count` bits of value, most significant first.
    void Put(std::uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            Byte = static_cast<std::uint8_t>(Byte << 1 | ((value >> i) & 1u));
            if (++Used == 8) {
                Out.push_back(static_cast<char>(Byte));
                Byte = 0;
                Used = 0;
            }
        }
    }
    // Pads the last byte with zero bits.
    void Finish() {
        if (Used > 0)
            Out.push_back(static_cast<char>(Byte << (8 - Used)));
        Byte = 0;
        Used = 0;
    }

private:
    std::string& Out;
    std::uint8_t Byte = 0;
    int Used = 0;
};

class TEncoder {
public:
    explicit TEncoder(std::string& out) : Bits(out) {}

    void Run(std::string_view input);

private:
    // Match search: one binary tree per first byte, over the strings starting in the ring.
    void InitTree();
    void InsertNode(int r);
    void DeleteNode(int p);
    // Adaptive Huffman coding of the literal/length codes.
    void StartHuff();
    void Reconst();
    void Update(unsigned code);
    void EncodeChar(unsigned code);
    void EncodePosition(unsigned position);

    TBitOutput Bits;
    std::uint8_t TextBuf[N + F - 1] = {};
    int Lson[N + 1] = {};
    int Rson[N + 257] = {};
    int Dad[N + 1] = {};
    int MatchPosition = 0;
    int MatchLength = 0;
    std::uint16_t Freq[T + 1] = {};
    std::uint16_t Prnt[T + NChar] = {};
    std::uint16_t Son[T] = {};
    std::vector<std::uint8_t> Path; // bits of one code, leaf first
};

void TEncoder::InitTree() {
    for (int i = N + 1; i <= N + 256; ++i)
        Rson[i] = Nil;
    for (int i = 0; i < N; ++i)
        Dad[i] = Nil;
}

// Inserts the string at r and leaves the longest earlier match (the nearest of equal ones)
// in MatchLength and MatchPosition. A full-length match replaces the older node.
// The published algorithm's tree insertion, kept in its known shape to be checked against it.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
void TEncoder::InsertNode(int r) {
    int cmp = 1;
    const std::uint8_t* key = &TextBuf[r];
    int p = N + 1 + key[0];
    Rson[r] = Lson[r] = Nil;
    MatchLength = 0;
    for (;;) {
        if (cmp >= 0) {
            if (Rson[p] != Nil) {
                p = Rson[p];
            } else {
                Rson[p] = r;
                Dad[r] = p;
                return;
            }
        } else {
            if (Lson[p] != Nil) {
                p = Lson[p];
            } else {
                Lson[p] = r;
                Dad[r] = p;
                return;
            }
        }
        int i = 1;
        for (; i < F; ++i)
            if ((cmp = key[i] - TextBuf[p + i]) != 0)
                break;
        if (i > Threshold) {
            int distance = ((r - p) & (N - 1)) - 1;
            if (i > MatchLength) {
                MatchPosition = distance;
                if ((MatchLength = i) >= F)
                    break;
            } else if (i == MatchLength && distance < MatchPosition) {
                MatchPosition = distance;
            }
        }
    }
    Dad[r] = Dad[p];
    Lson[r] = Lson[p];
    Rson[r] = Rson[p];
    Dad[Lson[p]] = r;
    Dad[Rson[p]] = r;
    if (Rson[Dad[p]] == p)
        Rson[Dad[p]] = r;
    else
        Lson[Dad[p]] = r;
    Dad[p] = Nil;
}

void TEncoder::DeleteNode(int p) {
    if (Dad[p] == Nil)
        return;
    int q;
    if (Rson[p] == Nil) {
        q = Lson[p];
    } else if (Lson[p] == Nil) {
        q = Rson[p];
    } else {
        q = Lson[p];
        if (Rson[q] != Nil) {
            do {
                q = Rson[q];
            } while (Rson[q] != Nil);
            Rson[Dad[q]] = Lson[q];
            Dad[Lson[q]] = Dad[q];
            Lson[q] = Lson[p];
            Dad[Lson[p]] = q;
        }
        Rson[q] = Rson[p];
        Dad[Rson[p]] = q;
    }
    Dad[q] = Dad[p];
    if (Rson[Dad[p]] == p)
        Rson[Dad[p]] = q;
    else
        Lson[Dad[p]] = q;
    Dad[p] = Nil;
}

void TEncoder::StartHuff() {
    for (unsigned i = 0; i < NChar; ++i) {
        Freq[i] = 1;
        Son[i] = static_cast<std::uint16_t>(i + T);
        Prnt[i + T] = static_cast<std::uint16_t>(i);
    }
    unsigned i = 0;
    for (unsigned j = NChar; j <= R; ++j, i += 2) {
        Freq[j] = static_cast<std::uint16_t>(Freq[i] + Freq[i + 1]);
        Son[j] = static_cast<std::uint16_t>(i);
        Prnt[i] = Prnt[i + 1] = static_cast<std::uint16_t>(j);
    }
    Freq[T] = 0xFFFF;
    Prnt[R] = 0;
}

void TEncoder::Reconst() {
    // Leaves first, counts halved rounding up.
    unsigned leaves = 0;
    for (unsigned i = 0; i < T; ++i) {
        if (Son[i] >= T) {
            Freq[leaves] = static_cast<std::uint16_t>((Freq[i] + 1) / 2);
            Son[leaves] = Son[i];
            ++leaves;
        }
    }
    // Each new node joins the next two and goes where its count keeps the order.
    for (unsigned i = 0, j = NChar; j < T; i += 2, ++j) {
        unsigned f = Freq[i] + Freq[i + 1];
        unsigned k = j;
        while (f < Freq[k - 1])
            --k;
        for (unsigned m = j; m > k; --m) {
            Freq[m] = Freq[m - 1];
            Son[m] = Son[m - 1];
        }
        Freq[k] = static_cast<std::uint16_t>(f);
        Son[k] = static_cast<std::uint16_t>(i);
    }
    for (unsigned i = 0; i < T; ++i) {
        unsigned k = Son[i];
        Prnt[k] = static_cast<std::uint16_t>(i);
        if (k < T)
            Prnt[k + 1] = static_cast<std::uint16_t>(i);
    }
}

void TEncoder::Update(unsigned code) {
    if (Freq[R] == MaxFreq)
        Reconst();
    unsigned c = Prnt[code + T];
    do {
        unsigned k = ++Freq[c];
        if (k > Freq[c + 1]) {
            // Swap with the last node of a smaller count, keeping counts in order.
            unsigned l = c + 1;
            while (k > Freq[l + 1])
                ++l;
            Freq[c] = Freq[l];
            Freq[l] = static_cast<std::uint16_t>(k);
            unsigned i = Son[c];
            Prnt[i] = static_cast<std::uint16_t>(l);
            if (i < T)
                Prnt[i + 1] = static_cast<std::uint16_t>(l);
            unsigned j = Son[l];
            Son[l] = static_cast<std::uint16_t>(i);
            Prnt[j] = static_cast<std::uint16_t>(c);
            if (j < T)
                Prnt[j + 1] = static_cast<std::uint16_t>(c);
            Son[c] = static_cast<std::uint16_t>(j);
            c = l;
        }
        c = Prnt[c];
    } while (c != 0);
}

void TEncoder::EncodeChar(unsigned code) {
    // Leaf to root: an odd node is the right child, a 1 bit.
    Path.clear();
    unsigned k = Prnt[code + T];
    do {
        Path.push_back(static_cast<std::uint8_t>(k & 1));
        k = Prnt[k];
    } while (k != R);
    for (auto it = Path.rbegin(); it != Path.rend(); ++it)
        Bits.Put(*it, 1);
    Update(code);
}

void TEncoder::EncodePosition(unsigned position) {
    unsigned high = position >> 6;
    Bits.Put(static_cast<std::uint32_t>(PCode[high]) >> (8 - PLen[high]), PLen[high]);
    Bits.Put(position & 0x3F, 6);
}

void TEncoder::Run(std::string_view input) {
    if (input.empty())
        return;
    const auto* in = reinterpret_cast<const std::uint8_t*>(input.data());
    std::size_t next = 0;
    StartHuff();
    InitTree();
    int s = 0;
    int r = N - F;
    std::memset(TextBuf, ' ', static_cast<std::size_t>(r));
    int len = 0;
    while (len < F && next < input.size())
        TextBuf[r + len++] = in[next++];
    for (int i = 1; i <= F; ++i)
        InsertNode(r - i);
    InsertNode(r);
    do {
        if (MatchLength > len)
            MatchLength = len;
        if (MatchLength <= Threshold) {
            MatchLength = 1;
            EncodeChar(TextBuf[r]);
        } else {
            EncodeChar(static_cast<unsigned>(255 - Threshold + MatchLength));
            EncodePosition(static_cast<unsigned>(MatchPosition));
        }
        const int lastMatchLength = MatchLength;
        int i = 0;
        for (; i < lastMatchLength && next < input.size(); ++i) {
            std::uint8_t c = in[next++];
            DeleteNode(s);
            TextBuf[s] = c;
            // The bytes past the ring's end mirror its start, so comparisons need no wrap.
            if (s < F - 1)
                TextBuf[s + N] = c;
            s = (s + 1) & (N - 1);
            r = (r + 1) & (N - 1);
            InsertNode(r);
        }
        while (i++ < lastMatchLength) {
            DeleteNode(s);
            s = (s + 1) & (N - 1);
            r = (r + 1) & (N - 1);
            if (--len)
                InsertNode(r);
        }
    } while (len > 0);
    Bits.Finish();
}

} // namespace

std::string LzhEncode(std::string_view input) {
    std::string out;
    out.reserve(input.size() / 2 + 16);
    auto encoder = std::make_unique<TEncoder>(out);
    encoder->Run(input);
    return out;
}

} // namespace pellora
