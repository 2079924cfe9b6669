#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellora {

// Form encoding: letters and digits stay, a space becomes "+", every other byte becomes
// "%" and two upper-case hexadecimal digits ("-", "_", "." and "*" included).
std::string UrlEncode(std::string_view text);

// The name=value tokens of an attribute list such as «Pellora: new=2 accepted=3» or
// «<tag a="x y" b=1>». One pair of angle brackets around the list is dropped; a value runs
// to the next space, or to the closing double quote when it starts with one; a bare word
// after the last space is dropped.
std::vector<std::string> SplitTagAttributes(std::string_view text);

// The value of the first token whose name equals `name` without regard to letter case,
// trimmed and with one pair of enclosing double quotes removed (doubled quotes inside read
// as one). Only tokens with "=" take part.
std::optional<std::string> GetTagAttribute(const std::vector<std::string>& tokens,
                                           std::string_view name);

} // namespace pellora
