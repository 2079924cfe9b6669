#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pellora {

// The one percent-encoder of the project: every byte that `keep` refuses becomes "%" and two
// upper-case hexadecimal digits; with spaceAsPlus a space becomes "+" instead (form encoding).
std::string PercentEncode(std::string_view text, bool (*keep)(unsigned char byte),
                          bool spaceAsPlus = false);

// Letters and digits of ASCII: what form encoding keeps.
bool IsAsciiAlphanumeric(unsigned char byte);

// Undoes "%XX" escapes (either letter case) and, with plusAsSpace, turns "+" into a space.
// False when a "%" is not followed by two hexadecimal digits; badEscape (when given) then
// holds the offset of that "%" and `decoded` is unspecified.
bool PercentDecode(std::string_view text, std::string& decoded, bool plusAsSpace = false,
                   std::size_t* badEscape = nullptr);

} // namespace pellora
