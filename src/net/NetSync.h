#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellora {

// Builds the form body of an upload of one language's own-message changes.
class TPellPost {
public:
    // "action=add_deltas&file=messages&langcode=<code in lower case>&access_id=<id>&
    // messages=<the non-empty delta lines joined with CR LF, form-encoded>".
    std::string BuildPostData(std::string_view languageCode, std::int64_t accessId,
                              const std::vector<std::string>& deltaLines) const;
};

// The first line of the raw reply headers that contains the marker (case-sensitive).
// Lines end at CR, LF or CR LF.
std::optional<std::string> FindHeaderLine(std::string_view headers, std::string_view marker);
// The whole exchange line, marker "Pellora:" included.
std::optional<std::string> GetExchangeHeader(std::string_view headers);
// The value of the "Last-Modified:" line, trimmed.
std::optional<std::string> GetLastModifiedHeader(std::string_view headers);

// The value of the header `name` (its letter case does not matter) on the first line that
// starts with the name and a colon, trimmed.
std::optional<std::string> GetHeaderValue(std::string_view headers, std::string_view name);

// "access_id" of an exchange line, up to 63 bits. A value that is not a whole decimal number
// of 64 bits throws EConvertError.
std::optional<std::int64_t> ParseAccessId(std::string_view headerLine);

struct TUploadCounts {
    std::int32_t Accepted = 0;
    std::int32_t New = 0;
    std::int32_t Appended = 0;
};
// "new", "accepted" and "appended" of an upload reply; not found unless all three are there.
// A value that is not a whole decimal number throws EConvertError.
std::optional<TUploadCounts> ParseUploadCounts(std::string_view headerLine);

// The lines of an upload the server refused alone while it stored the others: the 1-based
// positions of "Pellora-Refused-Lines: 3,7" in ascending order. Empty without the header. A
// value that is not a list of distinct positive numbers throws EConvertError.
std::vector<std::size_t> ParseRefusedLines(std::string_view headers);

// What "Pellora-Access-Id" says of the access id an upload carried.
enum class TAccessIdState { Valid, Unknown, Retired };
TAccessIdState ParseAccessIdState(std::string_view headers);

// A limit of the exchange server that refused a request: 413 (too much at once), 429 (enough
// for today) or 503 (no room or no time now).
struct TServerLimit {
    int Status = 0;
    // "upload-lines=100" as the "Pellora-Limit" header names it, shown safely; empty without.
    std::string Limit;
    // From "Retry-After" when it holds a number of seconds; 0 otherwise.
    std::int64_t RetryAfterSeconds = 0;
    bool HasRetryAfter = false;
};
// The limit of a reply with one of those statuses; nothing for any other status.
std::optional<TServerLimit> ParseServerLimit(int status, std::string_view headers);
// What the user is told: the limit, named with the address, and when trying again helps.
std::string ServerLimitText(const TServerLimit& limit, const std::string& address);

// Text a server sent, fit to be shown: control bytes become blanks, blanks around it go and
// it is cut to at most maxBytes (never inside a UTF-8 character).
std::string ShownServerText(std::string_view text, std::size_t maxBytes);

// Why downloaded lines cannot be a message library: none of them is a message record (a
// network's sign-in page, an error page, a binary), or one that looks like a record cannot be
// read as one. Nothing when they can.
std::optional<std::string> LibraryReplyFault(const std::vector<std::string>& lines);

} // namespace pellora
