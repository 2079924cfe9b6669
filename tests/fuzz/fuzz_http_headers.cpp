// Arbitrary bytes as raw reply headers, as a downloaded library and as an address. The header
// finders must return the first line holding the marker, cut exactly at line ends; the
// Last-Modified value must come back trimmed. A limit the server names must reach the user as
// two lines naming the address, with nothing a terminal or a message box acts on. A library the
// download takes must read back without an error and hold a record. Setting an address may only
// fail with the client's own errors, leaves the old address on failure, and an accepted address
// must read back to the same server. The lines an upload refused alone must read as distinct
// positive positions or not at all.

#include "core/MsgRecord.h"
#include "net/NetSync.h"
#include "net/uAdvHttp.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace pellora;

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "header check failed: %s\n", what);
    std::abort();
}

void CheckFind(const std::string& headers, const std::vector<std::string>& lines,
               const std::string& marker) {
    std::optional<std::string> found = FindHeaderLine(headers, marker);
    const std::string* expected = nullptr;
    for (const std::string& line : lines)
        if (line.find(marker) != std::string::npos) {
            expected = &line;
            break;
        }
    if (found.has_value() != (expected != nullptr) || (found && *found != *expected))
        Fail("not the first line with the marker");
}

bool HasControlByte(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < ' ' || c == '\x7F')
            return true;
    return false;
}

void CheckLimits(const std::string& headers) {
    for (int status : {413, 429, 503}) {
        std::optional<TServerLimit> limit = ParseServerLimit(status, headers);
        if (!limit || limit->Status != status)
            Fail("a limit status without its limit");
        if (limit->Limit.size() > 100 || HasControlByte(limit->Limit))
            Fail("the limit's name is not fit to be shown");
        if (limit->RetryAfterSeconds < 0)
            Fail("a negative time to wait");
        const std::string text = ServerLimitText(*limit, "http://127.0.0.1/edit.cgi");
        const std::size_t lineBreak = text.find("\r\n");
        if (lineBreak == std::string::npos || text.find("http://127.0.0.1/edit.cgi") > lineBreak)
            Fail("the limit's first line does not name the address");
        if (HasControlByte(text.substr(0, lineBreak)) || HasControlByte(text.substr(lineBreak + 2)))
            Fail("the limit's text holds control bytes");
    }
    if (ParseServerLimit(200, headers))
        Fail("a limit in a reply that is none");
    const std::string shown = ShownServerText(headers, 40);
    if (shown.size() > 40 || HasControlByte(shown))
        Fail("server text not fit to be shown");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string headers(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines = SplitTextLines(headers);
    CheckFind(headers, lines, "Pellora:");
    CheckFind(headers, lines, "Last-Modified:");
    CheckFind(headers, lines, "a");

    if (std::optional<std::string> value = GetLastModifiedHeader(headers)) {
        if (!value->empty() && (static_cast<unsigned char>(value->front()) <= ' ' ||
                                static_cast<unsigned char>(value->back()) <= ' '))
            Fail("value not trimmed");
        if (value->find_first_of("\r\n") != std::string::npos)
            Fail("value runs past its line");
    }
    if (std::optional<std::string> line = GetExchangeHeader(headers))
        if (line->find("Pellora:") == std::string::npos)
            Fail("exchange line without its marker");
    CheckLimits(headers);
    // Refused lines come back as distinct positive positions in order, or as a conversion
    // error; nothing else escapes.
    try {
        const std::vector<std::size_t> refused = ParseRefusedLines(headers);
        for (std::size_t i = 0; i < refused.size(); ++i)
            if (refused[i] == 0 || (i > 0 && refused[i] <= refused[i - 1]))
                Fail("refused lines out of order, repeated or zero");
    } catch (const EConvertError&) {
    }
    ParseAccessIdState(headers);

    // The bytes as a library reply.
    if (!LibraryReplyFault(lines)) {
        std::size_t records = 0;
        try {
            ForEachRecord(lines, 0, [&](const std::string&, const TMsgRecord&) { ++records; });
        } catch (const EPelloraError&) {
            Fail("a library taken by the download cannot be read back");
        }
        if (records == 0)
            Fail("a library without records was taken");
    }

    // The first line as an address.
    std::string url = lines.empty() ? std::string() : lines.front();
    TAdvHttp http;
    http.SetURL("http://127.0.0.1:81/old?x=1");
    const std::string before = http.URL();
    try {
        http.SetURL(url);
    } catch (const EPelloraError&) {
        if (http.URL() != before || http.HostName() != "127.0.0.1" || http.Port() != 81)
            Fail("failed address changed the old one");
        return 0;
    }
    std::string host = http.HostName();
    int port = http.Port();
    bool ssl = http.SSL();
    if (http.URL().empty())
        Fail("accepted address gives no URL");
    try {
        http.SetURL(http.URL());
    } catch (const EPelloraError&) {
        Fail("rebuilt address is refused");
    }
    if (http.HostName() != host || http.Port() != port || http.SSL() != ssl)
        Fail("rebuilt address names another server");
    return 0;
}
