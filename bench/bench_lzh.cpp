#include "LzhEncoder.h"
#include "SkinWriter.h"
#include "skins/LZH.h"
#include "skins/SkinReader.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace pellora;

namespace {

// Prose-like text: words of a few letters from a vocabulary used with skewed frequencies,
// with punctuation and line breaks. Compresses about 3:1.
std::string TextLike(std::size_t size) {
    std::mt19937 random(1988);
    std::vector<std::string> words;
    const char* letters = "etaoinshrdlucmfwypvbgkqjxz";
    for (int i = 0; i < 250; ++i) {
        std::string word;
        std::size_t length = 2 + random() % 8;
        for (std::size_t k = 0; k < length; ++k)
            word += letters[std::min<std::size_t>(random() % 26, random() % 26)];
        words.push_back(word);
    }
    std::string out;
    while (out.size() < size) {
        // Zipf-like: small indices far more often.
        double u = std::generate_canonical<double, 32>(random);
        std::size_t index = static_cast<std::size_t>(std::pow(u, 3.0) * words.size());
        out += words[index];
        unsigned p = random() % 20;
        out += p == 0 ? ". " : p == 1 ? ", " : p == 2 ? "\r\n" : " ";
    }
    out.resize(size);
    return out;
}

// The published decoder written out plainly, one getc/putc per byte, for comparison.
class TReferenceDecoder {
public:
    std::string Decode(std::uint32_t textSize, const std::string& input) {
        In = &input;
        At = 0;
        GetBuf = 0;
        GetLen = 0;
        std::string out;
        if (textSize == 0)
            return out;
        StartHuff();
        for (int i = 0; i < N - F; i++)
            TextBuf[i] = ' ';
        int r = N - F;
        for (std::uint32_t count = 0; count < textSize;) {
            int c = DecodeChar();
            if (c < 256) {
                out.push_back(static_cast<char>(c));
                TextBuf[r++] = static_cast<unsigned char>(c);
                r &= (N - 1);
                count++;
            } else {
                int i = (r - DecodePosition() - 1) & (N - 1);
                int j = c - 255 + Threshold;
                for (int k = 0; k < j; k++) {
                    c = TextBuf[(i + k) & (N - 1)];
                    out.push_back(static_cast<char>(c));
                    TextBuf[r++] = static_cast<unsigned char>(c);
                    r &= (N - 1);
                    count++;
                }
            }
        }
        out.resize(textSize);
        return out;
    }

private:
    static constexpr int N = 4096, F = 60, Threshold = 2;
    static constexpr int NChar = 256 - Threshold + F, T = NChar * 2 - 1, R = T - 1;
    static constexpr unsigned MaxFreq = 0x8000;

    int GetC() { return At < In->size() ? static_cast<unsigned char>((*In)[At++]) : -1; }
    int GetBit() {
        while (GetLen <= 8) {
            int i = GetC();
            if (i < 0)
                i = 0;
            GetBuf = static_cast<std::uint16_t>(GetBuf | (i << (8 - GetLen)));
            GetLen += 8;
        }
        int i = GetBuf;
        GetBuf = static_cast<std::uint16_t>(GetBuf << 1);
        GetLen--;
        return (i & 0x8000) != 0;
    }
    int GetByte() {
        while (GetLen <= 8) {
            int i = GetC();
            if (i < 0)
                i = 0;
            GetBuf = static_cast<std::uint16_t>(GetBuf | (i << (8 - GetLen)));
            GetLen += 8;
        }
        unsigned i = GetBuf;
        GetBuf = static_cast<std::uint16_t>(GetBuf << 8);
        GetLen -= 8;
        return static_cast<int>(i >> 8);
    }
    void StartHuff() {
        int i, j;
        for (i = 0; i < NChar; i++) {
            Freq[i] = 1;
            Son[i] = i + T;
            Prnt[i + T] = i;
        }
        i = 0;
        j = NChar;
        while (j <= R) {
            Freq[j] = Freq[i] + Freq[i + 1];
            Son[j] = i;
            Prnt[i] = Prnt[i + 1] = j;
            i += 2;
            j++;
        }
        Freq[T] = 0xffff;
        Prnt[R] = 0;
    }
    void Reconst() {
        int i, j, k;
        unsigned f, l;
        j = 0;
        for (i = 0; i < T; i++) {
            if (Son[i] >= T) {
                Freq[j] = (Freq[i] + 1) / 2;
                Son[j] = Son[i];
                j++;
            }
        }
        for (i = 0, j = NChar; j < T; i += 2, j++) {
            k = i + 1;
            f = Freq[j] = Freq[i] + Freq[k];
            for (k = j - 1; f < Freq[k]; k--)
                ;
            k++;
            l = static_cast<unsigned>(j - k);
            std::memmove(&Freq[k + 1], &Freq[k], l * sizeof Freq[0]);
            Freq[k] = f;
            std::memmove(&Son[k + 1], &Son[k], l * sizeof Son[0]);
            Son[k] = i;
        }
        for (i = 0; i < T; i++) {
            if ((k = Son[i]) >= T)
                Prnt[k] = i;
            else
                Prnt[k] = Prnt[k + 1] = i;
        }
    }
    void Update(int c) {
        int i, j, l;
        unsigned k;
        if (Freq[R] == MaxFreq)
            Reconst();
        c = Prnt[c + T];
        do {
            k = ++Freq[c];
            if (k > Freq[l = c + 1]) {
                while (k > Freq[++l])
                    ;
                l--;
                Freq[c] = Freq[l];
                Freq[l] = k;
                i = Son[c];
                Prnt[i] = l;
                if (i < T)
                    Prnt[i + 1] = l;
                j = Son[l];
                Son[l] = i;
                Prnt[j] = c;
                if (j < T)
                    Prnt[j + 1] = c;
                Son[c] = j;
                c = l;
            }
        } while ((c = Prnt[c]) != 0);
    }
    int DecodeChar() {
        unsigned c = static_cast<unsigned>(Son[R]);
        while (c < T) {
            c += static_cast<unsigned>(GetBit());
            c = static_cast<unsigned>(Son[c]);
        }
        c -= T;
        Update(static_cast<int>(c));
        return static_cast<int>(c);
    }
    int DecodePosition() {
        unsigned i, j, c;
        i = static_cast<unsigned>(GetByte());
        c = static_cast<unsigned>(DCode(i)) << 6;
        j = static_cast<unsigned>(DLen(i));
        j -= 2;
        while (j--)
            i = (i << 1) + static_cast<unsigned>(GetBit());
        return static_cast<int>(c | (i & 0x3f));
    }
    // The position tables, filled from their ranges: 32 bytes share code 0, 16 each share
    // codes 1-3, 8 each 4-11, 4 each 12-23, 2 each 24-47, and 48-63 have one byte each.
    struct TTables {
        unsigned char Code[256], Len[256];
        TTables() {
            const int share[] = {32, 16, 8, 4, 2, 1};
            const int last[] = {0, 3, 11, 23, 47, 63};
            int at = 0, code = 0;
            for (int group = 0; group < 6; ++group)
                for (; code <= last[group]; ++code)
                    for (int k = 0; k < share[group]; ++k, ++at) {
                        Code[at] = static_cast<unsigned char>(code);
                        Len[at] = static_cast<unsigned char>(3 + group);
                    }
        }
    };
    static const TTables& Tables() {
        static const TTables tables;
        return tables;
    }
    static int DCode(unsigned i) { return Tables().Code[i]; }
    static int DLen(unsigned i) { return Tables().Len[i]; }

    const std::string* In = nullptr;
    std::size_t At = 0;
    std::uint16_t GetBuf = 0;
    int GetLen = 0;
    unsigned Freq[T + 1] = {};
    int Prnt[T + NChar] = {};
    int Son[T] = {};
    unsigned char TextBuf[N + F - 1] = {};
};

struct TInput {
    std::string Text;
    std::string Stream;
    std::string Container; // the text as the one entry of a skin file
};

const TInput& Input() {
    static const TInput input = [] {
        TInput in;
        in.Text = TextLike(1 << 20);
        in.Stream = LzhEncode(in.Text);
        TSkinWriter writer;
        writer.Add("skin.ini", in.Text);
        in.Container = writer.Build();
        // The three decoders must agree before any of them is timed.
        TReferenceDecoder reference;
        if (TLZH::Unpack(static_cast<std::uint32_t>(in.Text.size()), in.Stream) != in.Text ||
            reference.Decode(static_cast<std::uint32_t>(in.Text.size()), in.Stream) != in.Text) {
            std::fprintf(stderr, "decoders disagree with the input\n");
            std::abort();
        }
        std::fprintf(stderr, "text %zu bytes, stream %zu bytes, ratio %.2f:1\n", in.Text.size(),
                     in.Stream.size(),
                     static_cast<double>(in.Text.size()) / static_cast<double>(in.Stream.size()));
        return in;
    }();
    return input;
}

void BM_UnpackInMemory(benchmark::State& state) {
    const TInput& in = Input();
    for (auto _ : state) {
        std::string out = TLZH::Unpack(static_cast<std::uint32_t>(in.Text.size()), in.Stream);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.Text.size()));
}
BENCHMARK(BM_UnpackInMemory)->Unit(benchmark::kMillisecond);

void BM_UnpackThroughProcs(benchmark::State& state) {
    const TInput& in = Input();
    for (auto _ : state) {
        std::size_t at = 0;
        std::string out;
        out.reserve(in.Text.size() + 64);
        TLZH lzh;
        lzh.Unpack(
            static_cast<std::uint32_t>(in.Text.size()),
            [&](char* buffer, std::size_t room) {
                std::size_t n = std::min(room, in.Stream.size() - at);
                std::memcpy(buffer, in.Stream.data() + at, n);
                at += n;
                return n;
            },
            [&](const char* data, std::size_t n) { out.append(data, n); });
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.Text.size()));
}
BENCHMARK(BM_UnpackThroughProcs)->Unit(benchmark::kMillisecond);

void BM_ReferenceDecoder(benchmark::State& state) {
    const TInput& in = Input();
    TReferenceDecoder reference;
    for (auto _ : state) {
        std::string out = reference.Decode(static_cast<std::uint32_t>(in.Text.size()), in.Stream);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.Text.size()));
}
BENCHMARK(BM_ReferenceDecoder)->Unit(benchmark::kMillisecond);

// Opening a 1 MB skin file against what it cannot avoid: decoding it and copying the data.
void BM_OpenContainer(benchmark::State& state) {
    const TInput& in = Input();
    for (auto _ : state) {
        TSkinReader reader;
        bool opened = reader.Open(in.Container);
        benchmark::DoNotOptimize(opened);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.Text.size()));
}
BENCHMARK(BM_OpenContainer)->Unit(benchmark::kMillisecond);

void BM_UnpackContainerPlusCopy(benchmark::State& state) {
    const TInput& in = Input();
    std::uint32_t size = 0;
    std::memcpy(&size, in.Container.data(), 4);
    for (auto _ : state) {
        std::string out = TLZH::Unpack(size, std::string_view(in.Container).substr(4));
        std::string copy = out.substr(16);
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * in.Text.size()));
}
BENCHMARK(BM_UnpackContainerPlusCopy)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
