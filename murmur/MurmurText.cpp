#include "MurmurText.h"

#include <algorithm>

namespace pellora {

namespace {

void PutLe(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

namespace {

bool IsSentenceEnd(char c) {
    return c == '.' || c == '!' || c == '?' || c == ';';
}

// Backs off from `end` to the start of a UTF-8 sequence (at most three bytes, so 8-bit text
// cannot make the piece empty).
std::size_t SequenceStart(std::string_view text, std::size_t start, std::size_t end) {
    std::size_t cut = end;
    for (int back = 0;
         back < 3 && cut - 1 > start && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80;
         ++back)
        --cut;
    return cut;
}

// Where the piece that starts at `start` ends: after a line break or a sentence once it is
// long enough, else at its last blank, else where it reaches maxBytes.
std::size_t PieceEnd(std::string_view text, std::size_t start, std::size_t maxBytes) {
    std::size_t end = start;
    std::size_t lastBlank = 0;
    while (end < text.size() && end - start < maxBytes) {
        char c = text[end++];
        // Short messages stay whole: a cut costs a pause and the sentence melody.
        bool longEnough = end - start >= maxBytes / 3;
        if (longEnough && (c == '\n' || c == '\r'))
            return end;
        if (longEnough && IsSentenceEnd(c) && end < text.size() && IsBlank(text[end]))
            return end + 1;
        if (c == ' ' || c == '\t')
            lastBlank = end;
    }
    if (end >= text.size())
        return text.size();
    if (lastBlank > start)
        return lastBlank;
    return SequenceStart(text, start, end);
}

} // namespace

std::vector<std::string_view> SplitSpeechText(std::string_view text, std::size_t maxBytes) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t cut = PieceEnd(text, start, maxBytes);
        std::string_view piece = text.substr(start, cut - start);
        if (std::any_of(piece.begin(), piece.end(), [](char c) { return !IsBlank(c); }))
            pieces.push_back(piece);
        start = cut;
    }
    return pieces;
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        int extra;
        std::uint32_t code;
        if (byte < 0x80) {
            ++i;
            continue;
        } else if ((byte & 0xE0) == 0xC0) {
            extra = 1;
            code = byte & 0x1F;
        } else if ((byte & 0xF0) == 0xE0) {
            extra = 2;
            code = byte & 0x0F;
        } else if ((byte & 0xF8) == 0xF0) {
            extra = 3;
            code = byte & 0x07;
        } else
            return false;
        if (i + static_cast<std::size_t>(extra) >= text.size())
            return false;
        for (int k = 1; k <= extra; ++k) {
            auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        static constexpr std::uint32_t Minimum[] = {0, 0x80, 0x800, 0x10000};
        if (code < Minimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

std::string MakeWave(const std::vector<std::int16_t>& samples, int sampleRate) {
    auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    std::string out;
    out.reserve(44 + dataBytes);
    out += "RIFF";
    PutLe(out, 36 + dataBytes, 4);
    out += "WAVEfmt ";
    PutLe(out, 16, 4);                                         // format block size
    PutLe(out, 1, 2);                                          // PCM
    PutLe(out, 1, 2);                                          // mono
    PutLe(out, static_cast<std::uint32_t>(sampleRate), 4);     // samples per second
    PutLe(out, static_cast<std::uint32_t>(sampleRate) * 2, 4); // bytes per second
    PutLe(out, 2, 2);                                          // bytes per frame
    PutLe(out, 16, 2);                                         // bits per sample
    out += "data";
    PutLe(out, dataBytes, 4);
    for (std::int16_t sample : samples)
        PutLe(out, static_cast<std::uint16_t>(sample), 2);
    return out;
}

} // namespace pellora
