#include "platform/PercentCoding.h"

#include "platform/StrUtils.h"

namespace pellora {

std::string PercentEncode(std::string_view text, bool (*keep)(unsigned char byte),
                          bool spaceAsPlus) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (keep(byte)) {
            out += c;
        } else if (spaceAsPlus && byte == ' ') {
            out += '+';
        } else {
            out += '%';
            out += Hex[byte >> 4];
            out += Hex[byte & 0x0F];
        }
    }
    return out;
}

bool IsAsciiAlphanumeric(unsigned char byte) {
    return (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
           (byte >= 'a' && byte <= 'z');
}

bool PercentDecode(std::string_view text, std::string& decoded, bool plusAsSpace,
                   std::size_t* badEscape) {
    decoded.clear();
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            const int high = i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
            const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
            if (high < 0 || low < 0) {
                if (badEscape != nullptr)
                    *badEscape = i;
                return false;
            }
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else if (plusAsSpace && c == '+') {
            decoded += ' ';
        } else {
            decoded += c;
        }
    }
    return true;
}

} // namespace pellora
