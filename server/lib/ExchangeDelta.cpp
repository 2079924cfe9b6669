#include "ExchangeDelta.h"

#include "ExchangeErrors.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

namespace pellora {

namespace {

std::int32_t NumberOrRefuse(std::string_view field, const char* what, bool emptyIsZero) {
    std::string_view trimmed = TrimView(field);
    if (trimmed.empty() && emptyIsZero)
        return 0;
    std::optional<std::int32_t> value = ParseInt32(trimmed);
    if (!value)
        throw EHttpError(
            400, Format("The %s '%s' is not a whole number", what, std::string(trimmed).c_str()));
    return *value;
}

// Length of the UTF-8 sequence at text[i] and its code point; 0 when it is not one.
std::size_t Utf8Sequence(std::string_view text, std::size_t i, char32_t& point) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = lead < 0x80                    ? 1
                         : lead >= 0xC2 && lead <= 0xDF ? 2
                         : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                        : 0;
    if (length == 0 || i + length > text.size())
        return 0;
    point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        point = (point << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and points past U+10FFFF are not UTF-8.
    static constexpr char32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < Least[length] || (point >= 0xD800 && point <= 0xDFFF) || point > 0x10FFFF)
        return 0;
    return length;
}

} // namespace

const char* MessageTextProblem(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t point = 0;
        std::size_t length = Utf8Sequence(text, i, point);
        if (length == 0)
            return "the text is not valid UTF-8";
        if (point < 0x20 || (point >= 0x7F && point <= 0x9F))
            return "the text holds a control character";
        if (point == '|')
            return "the text holds a '|', which the message files cannot store";
        i += length;
    }
    return nullptr;
}

TDelta ParseDeltaLine(std::string_view line) {
    std::string_view fields[4];
    std::size_t start = 0;
    for (std::string_view& field : fields) {
        std::size_t bar = line.find('|', start);
        if (bar == std::string_view::npos)
            throw EHttpError(400, "A delta line has five fields separated by '|'");
        field = line.substr(start, bar - start);
        start = bar + 1;
    }
    // Blanks and tabs around the text go, as they would when the journal line is read back;
    // any other control character is refused, not quietly dropped.
    const std::string_view raw = line.substr(start);
    for (char c : raw)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F)
            throw EHttpError(400, "In this line the text holds a control character");
    std::string_view text = TrimView(raw);

    TDelta delta;
    std::string_view action = TrimView(fields[0]);
    if (action == "NEW")
        delta.Action = TMsgAction::New;
    else if (action == "MOD")
        delta.Action = TMsgAction::Mod;
    else if (action == "DEL")
        delta.Action = TMsgAction::Del;
    else
        throw EHttpError(400, "The action '" + std::string(action) + "' is not NEW, MOD or DEL");
    delta.Group = NumberOrRefuse(fields[1], "group", false);
    if (delta.Group < FirstGroup || delta.Group > LastGroup)
        throw EHttpError(400, Format("The group %d is not one of 1 to 4", delta.Group));
    delta.ServerId = NumberOrRefuse(fields[2], "server id", true);
    delta.OwnId = NumberOrRefuse(fields[3], "own id", true);
    if (const char* problem = MessageTextProblem(text))
        throw EHttpError(400, Format("In this line %s", problem));
    if (text.size() > MaxTextBytes)
        throw EHttpError(400, Format("A text holds at most %zu bytes", MaxTextBytes));
    if (text.empty() && delta.Action != TMsgAction::Del)
        throw EHttpError(400, Format("A %s needs a text", MsgActionWord(delta.Action)));
    delta.Text = std::string(text);
    return delta;
}

std::vector<TDelta> ParseDeltaLines(std::string_view text) {
    std::vector<TDelta> deltas;
    std::size_t number = 0;
    for (const std::string& line : SplitTextLines(text)) {
        ++number;
        if (TrimView(line).empty())
            continue;
        try {
            deltas.push_back(ParseDeltaLine(line));
        } catch (const EHttpError& error) {
            throw EHttpError(error.Status, Format("Delta line %zu: %s", number, error.what()));
        }
    }
    return deltas;
}

} // namespace pellora
