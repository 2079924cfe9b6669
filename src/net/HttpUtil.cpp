#include "net/HttpUtil.h"

#include "platform/PercentCoding.h"
#include "platform/StrUtils.h"

namespace pellora {

std::string UrlEncode(std::string_view text) {
    return PercentEncode(text, &IsAsciiAlphanumeric, true);
}

std::vector<std::string> SplitTagAttributes(std::string_view text) {
    std::vector<std::string> tokens;
    std::size_t first = 0;
    while (first < text.size() && static_cast<unsigned char>(text[first]) <= ' ')
        ++first;
    text.remove_prefix(first);
    if (!text.empty() && text.front() == '<')
        text.remove_prefix(1);
    if (!text.empty() && text.back() == '>')
        text.remove_suffix(1);
    if (text.empty())
        return tokens;

    const std::size_t length = text.size();
    auto skipSpaces = [&](std::size_t pos) {
        while (pos < length && text[pos] == ' ')
            ++pos;
        return pos;
    };
    std::size_t start = 0;
    std::size_t pos = 0;
    while (pos < length) {
        char c = text[pos];
        if (c == ' ') {
            tokens.emplace_back(text.substr(start, pos - start));
            pos = start = skipSpaces(pos);
        } else if (c == '=') {
            if (length - pos - 1 < 2) {
                tokens.emplace_back(text.substr(start));
                break;
            }
            char terminator = text[pos + 1] == '"' ? '"' : ' ';
            std::size_t end = text.find(terminator, pos + 2);
            if (end == std::string_view::npos) {
                tokens.emplace_back(text.substr(start));
                break;
            }
            tokens.emplace_back(text.substr(start, end + 1 - start));
            pos = start = skipSpaces(end + 1);
        } else {
            ++pos;
        }
    }
    // Whatever is left after the last space is a bare word, which carries no value.
    if (tokens.empty())
        tokens.emplace_back(text);
    return tokens;
}

namespace {

std::string Dequoted(const std::string& value) {
    if (value.empty() || value.front() != '"')
        return value;
    std::string out;
    for (std::size_t i = 1; i < value.size(); ++i) {
        if (value[i] != '"') {
            out += value[i];
        } else if (i + 1 < value.size() && value[i + 1] == '"') {
            out += '"';
            ++i;
        } else {
            return out;
        }
    }
    // No closing quote: the text is not a quoted string after all.
    return value;
}

} // namespace

std::optional<std::string> GetTagAttribute(const std::vector<std::string>& tokens,
                                           std::string_view name) {
    for (const std::string& token : tokens) {
        std::size_t equals = token.find('=');
        if (equals == std::string::npos)
            continue;
        if (SameText(Trim(std::string_view(token).substr(0, equals)), name))
            return Dequoted(Trim(std::string_view(token).substr(equals + 1)));
    }
    return std::nullopt;
}

} // namespace pellora
