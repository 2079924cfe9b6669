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

} // namespace

TDelta ParseDeltaLine(std::string_view line) {
    if (line.find('\0') != std::string_view::npos)
        throw EHttpError(400, "The line holds a NUL byte");
    std::string_view fields[4];
    std::size_t start = 0;
    for (std::string_view& field : fields) {
        std::size_t bar = line.find('|', start);
        if (bar == std::string_view::npos)
            throw EHttpError(400, "A delta line has five fields separated by '|'");
        field = line.substr(start, bar - start);
        start = bar + 1;
    }
    std::string_view text = line.substr(start);
    text = text.substr(0, text.find('|'));

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
    delta.Text = Trim(text);
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
