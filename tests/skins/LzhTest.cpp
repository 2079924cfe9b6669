#include "skins/LZH.h"
#include "LzhEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

using namespace pellora;

namespace {

// Packs a written-out bit string ("1010 011", blanks ignored) most significant bit first,
// the last byte padded with zero bits.
std::string Bits(const std::string& text) {
    std::string out;
    int used = 0;
    for (char c : text) {
        if (c != '0' && c != '1')
            continue;
        if (used % 8 == 0)
            out.push_back('\0');
        out.back() = static_cast<char>(out.back() | ((c - '0') << (7 - used % 8)));
        ++used;
    }
    return out;
}

std::string Decode(std::uint32_t size, const std::string& stream) {
    return TLZH::Unpack(size, stream);
}

// Decoding through the reader and writer procedures, the reader handing out `chunk` bytes
// at a time.
std::string DecodeByProcs(std::uint32_t size, const std::string& stream, std::size_t chunk,
                          int* writes = nullptr) {
    std::size_t at = 0;
    std::string out;
    TLZH lzh;
    lzh.Unpack(
        size,
        [&](char* buffer, std::size_t room) {
            std::size_t n = std::min({room, chunk, stream.size() - at});
            stream.copy(buffer, n, at);
            at += n;
            return n;
        },
        [&](const char* data, std::size_t n) {
            out.append(data, n);
            if (writes)
                ++*writes;
        });
    return out;
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string out(size, '\0');
    for (char& c : out)
        c = static_cast<char>(random());
    return out;
}

// Words with a skewed choice: compresses roughly like prose.
std::string TextLike(std::size_t size, unsigned seed) {
    static const char* const words[] = {"skin",      "button", "frame", "colour", "the", "of",
                                        "left",      "right",  "top",   "bottom", "=",   "\r\n",
                                        "[Buttons]", "Bitmap", "0",     "255",    "a",   "reality"};
    std::mt19937 random(seed);
    std::string out;
    while (out.size() < size) {
        std::size_t pick = random() % std::size(words);
        out += words[std::min(pick, random() % std::size(words))];
        out += ' ';
    }
    out.resize(size);
    return out;
}

void ExpectRoundTrip(const std::string& input) {
    std::string stream = LzhEncode(input);
    std::string back = Decode(static_cast<std::uint32_t>(input.size()), stream);
    ASSERT_EQ(back.size(), input.size());
    EXPECT_TRUE(back == input) << "first difference at "
                               << std::mismatch(back.begin(), back.end(), input.begin()).first -
                                      back.begin();
}

} // namespace

// Codes worked out from the starting tree: leaf c's path runs through nodes
// 314 + n / 2 upwards from n = c, an odd node being a 1 bit. 'A' (65) is 111001101;
// counting it swaps leaf 65 with leaf 313, so the next 'A' is 11000101 and the length-60
// code (313) takes 'A''s old place. 'B' keeps 111001110 and the length-3 code (256)
// 10001100 throughout. Positions: upper six bits 0 -> "000", 1 -> "0010", then six bits.
TEST(Lzh, DecodesStreamsWorkedOutByHand) {
    const std::string aab = Bits("111001101 11000101 111001110 10001100 000 000010");
    EXPECT_EQ(Decode(6, aab), "AABAAB");
    EXPECT_EQ(Decode(3, aab), "AAB");

    // 'A', two overlapping 60-byte copies nine back (a period of ten), then three bytes
    // from 120 back, which is the first 'A'.
    const std::string runs =
        Bits("111001101  111001101 000 001001  11000100 000 001001  10001100 0010 111000");
    std::string period = "         A";
    std::string expected = "A";
    for (int i = 0; i < 12; ++i)
        expected += period;
    EXPECT_EQ(Decode(124, runs), expected + "A  ");

    // A copy from before the first byte reads the blanks the ring starts with.
    EXPECT_EQ(Decode(6, Bits("111001101 11000101 111001110 10001100 01011 000001")), "AAB   ");
    // Only a damaged stream copies from the ring's never-written end (position 4041, upper
    // bits 63 -> "11111111"); it reads zeros.
    EXPECT_EQ(Decode(3, Bits("10001100 11111111 001001")), std::string(3, '\0'));
}

TEST(Lzh, EncoderWritesTheHandWorkedStream) {
    EXPECT_EQ(LzhEncode("AABAAB"), Bits("111001101 11000101 111001110 10001100 000 000010"));
    EXPECT_EQ(LzhEncode("A"), Bits("111001101"));
    EXPECT_EQ(LzhEncode(""), "");
}

TEST(Lzh, RoundTripsSmallAndRepetitiveInputs) {
    ExpectRoundTrip("");
    ExpectRoundTrip("x");
    ExpectRoundTrip(std::string(1, '\0'));
    ExpectRoundTrip("   "); // the blanks the ring starts with match at once
    ExpectRoundTrip(std::string(100000, 'a'));
    ExpectRoundTrip(std::string(5000, ' '));
    std::string all;
    for (int round = 0; round < 3; ++round)
        for (int c = 0; c < 256; ++c)
            all.push_back(static_cast<char>(c));
    ExpectRoundTrip(all);
    std::string pattern;
    for (int i = 0; i < 20000; ++i)
        pattern += static_cast<char>('a' + (i * 7 + i / 13) % 26);
    ExpectRoundTrip(pattern);
}

TEST(Lzh, RoundTripsRandomAndTextInputsAcrossTheRing) {
    // Sizes around the look-ahead and ring edges, and inputs long enough for the tree to
    // be rebuilt many times (every 32768 codes).
    for (std::size_t size : {59u, 60u, 61u, 4035u, 4036u, 4096u, 4097u, 8192u, 70000u}) {
        SCOPED_TRACE(size);
        ExpectRoundTrip(RandomBytes(size, static_cast<unsigned>(size)));
        ExpectRoundTrip(TextLike(size, static_cast<unsigned>(size)));
    }
    ExpectRoundTrip(RandomBytes(300000, 7));
    std::string text = TextLike(1 << 20, 11);
    std::string stream = LzhEncode(text);
    EXPECT_LT(stream.size(), text.size() / 2);
    EXPECT_EQ(Decode(static_cast<std::uint32_t>(text.size()), stream), text);
}

TEST(Lzh, RoundTripsMixedRuns) {
    // Random stretches and repeats of earlier stretches, far and near.
    std::mt19937 random(3);
    for (int round = 0; round < 20; ++round) {
        std::string input;
        while (input.size() < 20000) {
            if (input.size() > 100 && random() % 2) {
                std::size_t from = random() % input.size();
                std::size_t length = 1 + random() % 200;
                for (std::size_t i = 0; i < length; ++i)
                    input.push_back(input[from + i]);
            } else {
                input += RandomBytes(1 + random() % 50, static_cast<unsigned>(random()));
            }
        }
        ExpectRoundTrip(input);
    }
}

TEST(Lzh, ShortStreamsReadZeroBitsToTheRecordedSizeAndSaySo) {
    std::string text = TextLike(50000, 5);
    std::string stream = LzhEncode(text);
    bool ranPast = true;
    EXPECT_EQ(TLZH::Unpack(static_cast<std::uint32_t>(text.size()), stream, &ranPast), text);
    EXPECT_FALSE(ranPast); // every bit it used was there, the last byte's too
    for (std::size_t cut : {std::size_t(0), std::size_t(1), stream.size() / 2, stream.size() - 1}) {
        SCOPED_TRACE(cut);
        std::string truncated = stream.substr(0, cut);
        std::string out = Decode(static_cast<std::uint32_t>(text.size()), truncated);
        ASSERT_EQ(out.size(), text.size());
        ranPast = false;
        TLZH::Unpack(static_cast<std::uint32_t>(text.size()), truncated, &ranPast);
        EXPECT_TRUE(ranPast);
        TLZH byProcs;
        std::size_t at = 0;
        byProcs.Unpack(
            static_cast<std::uint32_t>(text.size()),
            [&](char* buffer, std::size_t room) {
                std::size_t n = std::min(room, truncated.size() - at);
                truncated.copy(buffer, n, at);
                at += n;
                return n;
            },
            [](const char*, std::size_t) {});
        EXPECT_TRUE(byProcs.RanPastInput());
        // The missing input is exactly zero bytes.
        std::string padded = truncated + std::string(stream.size() + 1000 - cut, '\0');
        EXPECT_EQ(out, Decode(static_cast<std::uint32_t>(text.size()), padded));
    }
    // Everything before the cut decodes as it would have.
    std::string half =
        Decode(static_cast<std::uint32_t>(text.size()), stream.substr(0, stream.size() / 2));
    EXPECT_EQ(half.substr(0, text.size() / 4), text.substr(0, text.size() / 4));
}

TEST(Lzh, ReaderAndWriterProceduresMatchTheInMemoryDecoding) {
    std::string text = TextLike(100000, 9);
    std::string stream = LzhEncode(text);
    int writes = 0;
    EXPECT_EQ(DecodeByProcs(static_cast<std::uint32_t>(text.size()), stream, 1, &writes), text);
    EXPECT_GT(writes, 1); // written out in pieces, not gathered whole
    EXPECT_EQ(DecodeByProcs(static_cast<std::uint32_t>(text.size()), stream, 65536), text);
    EXPECT_EQ(DecodeByProcs(0, stream, 100), "");

    // A final match running past the size is written whole by the procedures and cut by
    // the in-memory form.
    const std::string runs = Bits("111001101  111001101 000 001001");
    EXPECT_EQ(DecodeByProcs(5, runs, 3).size(), 61u);
    EXPECT_EQ(Decode(5, runs), "A    ");
}

TEST(Lzh, AnyInputDecodesWithoutFault) {
    // Garbage still yields exactly the recorded size.
    for (unsigned seed = 0; seed < 50; ++seed) {
        std::string junk = RandomBytes(seed * 37, seed);
        EXPECT_EQ(Decode(seed * 1000, junk).size(), seed * 1000u);
    }
    EXPECT_EQ(Decode(100, std::string(100, '\xFF')).size(), 100u);
}
