#include "net/NetSync.h"

#include "core/MsgRecord.h"
#include "net/HttpUtil.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <algorithm>
#include <charconv>

namespace pellora {

namespace {

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string Plural(std::int64_t count, const char* unit) {
    return Format("%lld %s%s", static_cast<long long>(count), unit, count == 1 ? "" : "s");
}

// "45 seconds", "20 minutes", "5 hours and 12 minutes", "3 days": rounded up, since trying
// a little late helps where trying early does not.
std::string Duration(std::int64_t seconds) {
    if (seconds < 60)
        return Plural(seconds, "second");
    const std::int64_t minutes = seconds / 60 + (seconds % 60 != 0 ? 1 : 0);
    if (minutes < 60)
        return Plural(minutes, "minute");
    constexpr std::int64_t MinutesPerDay = std::int64_t{24} * 60;
    if (minutes < 2 * MinutesPerDay) {
        const std::string hours = Plural(minutes / 60, "hour");
        return minutes % 60 == 0 ? hours : hours + " and " + Plural(minutes % 60, "minute");
    }
    return Plural(minutes / MinutesPerDay + (minutes % MinutesPerDay != 0 ? 1 : 0), "day");
}

// What reached the limit, for the limits the exchange server names.
std::string LimitDescription(const TServerLimit& limit, const std::string& address) {
    const std::size_t equals = limit.Limit.find('=');
    const std::string name = limit.Limit.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : limit.Limit.substr(equals + 1);
    const char* server = address.c_str();
    const char* shown = limit.Limit.c_str();
    if (AllDigits(value)) {
        auto count = [&](const char* unit) {
            return value + " " + unit + (value == "1" ? "" : "s");
        };
        if (name == "upload-lines")
            return Format("The exchange server at %s takes at most %s in one upload (%s).", server,
                          count("change").c_str(), shown);
        if (name == "access-lines-per-day")
            return Format("The exchange server at %s takes at most %s a day from one access id "
                          "(%s).",
                          server, count("change").c_str(), shown);
        if (name == "address-lines-per-day")
            return Format("The exchange server at %s takes at most %s a day from one internet "
                          "address (%s).",
                          server, count("change").c_str(), shown);
        if (name == "address-access-per-day")
            return Format("The exchange server at %s hands out at most %s a day to one internet "
                          "address (%s).",
                          server, count("access id").c_str(), shown);
        if (name == "queue-bytes")
            return Format("The review queue of the exchange server at %s is full (%s).", server,
                          shown);
    }
    if (!limit.Limit.empty())
        return Format("The exchange server at %s has reached its limit %s.", server, shown);
    switch (limit.Status) {
    case 413:
        return Format("The exchange server at %s refused the request as too large.", server);
    case 429:
        return Format("The exchange server at %s has had too many requests from here.", server);
    default:
        return Format("The exchange server at %s cannot take the request right now.", server);
    }
}

} // namespace

std::string TPellPost::BuildPostData(std::string_view languageCode, std::int64_t accessId,
                                     const std::vector<std::string>& deltaLines) const {
    std::string messages;
    for (const std::string& line : deltaLines) {
        if (line.empty())
            continue;
        if (!messages.empty())
            messages += "\r\n";
        messages += line;
    }
    std::string body = "action=add_deltas&file=messages&langcode=";
    body += LowerCaseAscii(languageCode);
    body += "&access_id=";
    body += std::to_string(accessId);
    body += "&messages=";
    body += UrlEncode(messages);
    return body;
}

std::optional<std::string> FindHeaderLine(std::string_view headers, std::string_view marker) {
    std::size_t pos = 0;
    while (pos <= headers.size()) {
        std::size_t end = headers.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = headers.size();
        std::string_view line = headers.substr(pos, end - pos);
        if (line.find(marker) != std::string_view::npos)
            return std::string(line);
        if (end == headers.size())
            break;
        pos =
            end +
            (headers[end] == '\r' && end + 1 < headers.size() && headers[end + 1] == '\n' ? 2 : 1);
    }
    return std::nullopt;
}

std::optional<std::string> GetExchangeHeader(std::string_view headers) {
    return FindHeaderLine(headers, "Pellora:");
}

std::optional<std::string> GetLastModifiedHeader(std::string_view headers) {
    constexpr std::string_view Marker = "Last-Modified:";
    std::optional<std::string> line = FindHeaderLine(headers, Marker);
    if (!line)
        return std::nullopt;
    // The line's first characters are taken to be the name, as servers write it first.
    return Trim(std::string_view(*line).substr(std::min(Marker.size(), line->size())));
}

std::optional<std::string> GetHeaderValue(std::string_view headers, std::string_view name) {
    for (const std::string& line : SplitTextLines(headers))
        if (line.size() > name.size() && line[name.size()] == ':' &&
            SameText(std::string_view(line).substr(0, name.size()), name))
            return Trim(std::string_view(line).substr(name.size() + 1));
    return std::nullopt;
}

std::optional<std::int64_t> ParseAccessId(std::string_view headerLine) {
    std::optional<std::string> value = GetTagAttribute(SplitTagAttributes(headerLine), "access_id");
    if (!value)
        return std::nullopt;
    const std::string text = Trim(*value);
    if (std::optional<std::int64_t> id = ParseInt64(text))
        return id;
    throw EConvertError(Format("'%s' is not a valid integer value", text.c_str()));
}

std::vector<std::size_t> ParseRefusedLines(std::string_view headers) {
    std::vector<std::size_t> positions;
    const std::optional<std::string> value = GetHeaderValue(headers, "Pellora-Refused-Lines");
    if (!value)
        return positions;
    for (std::string_view field : SplitFields(*value, ',')) {
        const std::string number = Trim(field);
        const std::optional<std::int64_t> position =
            AllDigits(number) ? ParseInt64(number) : std::nullopt;
        if (!position || *position < 1)
            throw EConvertError(
                Format("'%s' is not a line number", ShownServerText(number, 40).c_str()));
        positions.push_back(static_cast<std::size_t>(*position));
    }
    std::sort(positions.begin(), positions.end());
    if (std::adjacent_find(positions.begin(), positions.end()) != positions.end())
        throw EConvertError("a line number is given twice");
    return positions;
}

TAccessIdState ParseAccessIdState(std::string_view headers) {
    const std::string value = GetHeaderValue(headers, "Pellora-Access-Id").value_or("");
    if (SameText(value, "unknown"))
        return TAccessIdState::Unknown;
    if (SameText(value, "retired"))
        return TAccessIdState::Retired;
    return TAccessIdState::Valid;
}

std::optional<TServerLimit> ParseServerLimit(int status, std::string_view headers) {
    if (status != 413 && status != 429 && status != 503)
        return std::nullopt;
    TServerLimit limit;
    limit.Status = status;
    if (std::optional<std::string> named = GetHeaderValue(headers, "Pellora-Limit"))
        limit.Limit = ShownServerText(*named, 100);
    if (std::optional<std::string> wait = GetHeaderValue(headers, "Retry-After")) {
        limit.HasRetryAfter = true;
        // An HTTP date in its place is rare; it reads as "later".
        if (AllDigits(*wait))
            limit.RetryAfterSeconds = ParseInt64(*wait).value_or(0);
    }
    return limit;
}

std::string ServerLimitText(const TServerLimit& limit, const std::string& address) {
    // A wait beyond this is shown as no more precise: no server plans that far ahead.
    constexpr std::int64_t LongestShownWait = std::int64_t{7} * 24 * 3600;
    std::string text = LimitDescription(limit, address) + "\r\n";
    if (limit.RetryAfterSeconds > LongestShownWait)
        text += "Please try again in more than a week.";
    else if (limit.RetryAfterSeconds > 0)
        text += "Please try again in " + Duration(limit.RetryAfterSeconds) + ".";
    else if (limit.Status == 413 && !limit.HasRetryAfter)
        text += "Trying again will not help.";
    else
        text += "Please try again later.";
    return text;
}

std::string ShownServerText(std::string_view text, std::size_t maxBytes) {
    std::string shown(text.substr(0, std::min(text.size(), maxBytes + 1)));
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < ' ' || c == '\x7F')
            c = ' ';
    if (shown.size() > maxBytes) {
        std::size_t cut = maxBytes;
        // Back to the first byte of the character that does not fit.
        while (cut > 0 && (static_cast<unsigned char>(shown[cut]) & 0xC0) == 0x80)
            --cut;
        shown.resize(cut);
    }
    return Trim(shown);
}

std::optional<TUploadCounts> ParseUploadCounts(std::string_view headerLine) {
    std::vector<std::string> tokens = SplitTagAttributes(headerLine);
    TUploadCounts counts;
    struct Field {
        const char* Name;
        std::int32_t* Target;
    };
    for (Field field : {Field{"new", &counts.New}, Field{"accepted", &counts.Accepted},
                        Field{"appended", &counts.Appended}}) {
        std::optional<std::string> value = GetTagAttribute(tokens, field.Name);
        if (!value)
            return std::nullopt;
        *field.Target = StrToInt(Trim(*value));
    }
    return counts;
}

std::optional<std::string> LibraryReplyFault(const std::vector<std::string>& lines) {
    bool anyRecord = false;
    TMsgRecord record;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        try {
            anyRecord = ParseMsgRecord(lines[i], record) || anyRecord;
        } catch (const EConvertError&) {
            // Stored, it would stop every later reading of the library.
            return Format("line %zu is a damaged message record", i + 1);
        }
    }
    if (!anyRecord)
        return std::string("it holds no message records");
    return std::nullopt;
}

} // namespace pellora
