#include "net/NetSync.h"

#include "core/MsgRecord.h"
#include "net/HttpUtil.h"
#include "platform/Errors.h"
#include "platform/StrUtils.h"

namespace pellora {

std::string TPellPost::BuildPostData(std::string_view languageCode, std::int32_t accessId,
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
    AppendInt(body, accessId);
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

std::optional<std::int32_t> ParseAccessId(std::string_view headerLine) {
    std::optional<std::string> value = GetTagAttribute(SplitTagAttributes(headerLine), "access_id");
    if (!value)
        return std::nullopt;
    return StrToInt(Trim(*value));
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
