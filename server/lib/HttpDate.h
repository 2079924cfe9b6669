#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pellora {

// Seconds since 1970-01-01 00:00:00 UTC as an HTTP date: "Sat, 05 Dec 2026 10:00:00 GMT".
// English names whatever the locale, as HTTP demands.
std::string FormatHttpDate(std::int64_t seconds);

// The three date forms HTTP allows: "Sun, 06 Nov 1994 08:49:37 GMT", the older
// "Sunday, 06-Nov-94 08:49:37 GMT" and "Sun Nov  6 08:49:37 1994". Surrounding blanks are
// allowed. Nothing for any other text or an impossible date (31 Feb, 25:00).
std::optional<std::int64_t> ParseHttpDate(std::string_view text);

// "2026-12-05T10:00:00Z".
std::string FormatIsoTime(std::int64_t seconds);

} // namespace pellora
