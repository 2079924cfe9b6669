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
    std::string BuildPostData(std::string_view languageCode, std::int32_t accessId,
                              const std::vector<std::string>& deltaLines) const;
};

// The first line of the raw reply headers that contains the marker (case-sensitive).
// Lines end at CR, LF or CR LF.
std::optional<std::string> FindHeaderLine(std::string_view headers, std::string_view marker);
// The whole exchange line, marker "Pellora:" included.
std::optional<std::string> GetExchangeHeader(std::string_view headers);
// The value of the "Last-Modified:" line, trimmed.
std::optional<std::string> GetLastModifiedHeader(std::string_view headers);

// "access_id" of an exchange line. A value that is not a whole decimal number throws
// EConvertError.
std::optional<std::int32_t> ParseAccessId(std::string_view headerLine);

struct TUploadCounts {
    std::int32_t Accepted = 0;
    std::int32_t New = 0;
    std::int32_t Appended = 0;
};
// "new", "accepted" and "appended" of an upload reply; not found unless all three are there.
// A value that is not a whole decimal number throws EConvertError.
std::optional<TUploadCounts> ParseUploadCounts(std::string_view headerLine);

// Why downloaded lines cannot be a message library: none of them is a message record (a
// network's sign-in page, an error page, a binary), or one that looks like a record cannot be
// read as one. Nothing when they can.
std::optional<std::string> LibraryReplyFault(const std::vector<std::string>& lines);

} // namespace pellora
