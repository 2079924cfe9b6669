#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellora {

// Strips blanks and control characters (every byte up to and including ' ') from both ends.
std::string Trim(std::string_view text);
std::string_view TrimView(std::string_view text);

std::string UpperCaseAscii(std::string_view text);
std::string LowerCaseAscii(std::string_view text);
// Equal without regard to ASCII letter case.
bool SameText(std::string_view a, std::string_view b);

// Splits at every separator, keeping empty fields: "a||b" gives three fields.
std::vector<std::string_view> SplitFields(std::string_view text, char separator);

// A whole decimal number with an optional sign that fits in 32 bits; nothing otherwise.
std::optional<std::int32_t> ParseInt32(std::string_view text);

// A whole decimal number with an optional sign that fits in 64 bits; nothing otherwise.
std::optional<std::int64_t> ParseInt64(std::string_view text);

// A whole decimal number as ParseInt32 reads it; throws EConvertError
// "'<text>' is not a valid integer value" otherwise.
std::int32_t StrToInt(std::string_view text);

// A number field of a record line: empty is 0, else a whole decimal number as StrToInt
// reads it (EConvertError otherwise).
std::int32_t NumberField(std::string_view field);

// Appends the decimal digits of value.
void AppendInt(std::string& out, std::int32_t value);
// Appends text with CR and LF written as blanks: a line break inside a field of a record
// would end the record early when read back and could turn the rest into a forged line.
void AppendOneLine(std::string& out, std::string_view text);

// A text fit for one field of a TAB-separated line on a terminal: a backslash, TAB, LF and CR
// become \\, \t, \n and \r, other control characters \xHH (below 0x80) or \uHHHH (0x80 to
// 0x9F), and every byte that is not part of valid UTF-8 the replacement character U+FFFD.
// Nothing else changes, so a plain text comes out as it went in.
std::string EscapeControls(std::string_view text);

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Value of a hexadecimal digit (either letter case), or -1 for any other character.
int HexDigit(char c);

} // namespace pellora
