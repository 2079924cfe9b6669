#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pellora {

// The fields of a query string or an application/x-www-form-urlencoded body, in order.
using TFormFields = std::vector<std::pair<std::string, std::string>>;

// Decodes one form-encoded name or value: "+" is a blank, "%XX" the byte XX. Throws
// EHttpError 400 for a "%" without two hexadecimal digits after it.
std::string FormDecode(std::string_view text);

// No request of the exchange has more fields than an upload.
constexpr std::size_t MaxFormFields = 5;

// Splits at "&" and decodes each name=value pair; empty pairs are skipped and a pair without
// "=" has an empty value. A name given twice is refused (EHttpError 400): which of two
// access ids or message lists was meant cannot be told. So is a form of more than
// MaxFormFields fields, which keeps the work for one request small whatever is sent.
TFormFields ParseForm(std::string_view text);

// The field's value, or nullptr when the form lacks it.
const std::string* FindFormValue(const TFormFields& fields, std::string_view name);
// The field's value; EHttpError 400 naming the field when it is missing.
const std::string& RequireFormValue(const TFormFields& fields, std::string_view name);

// An access id as the form carries it: decimal digits only (no sign, blank or other byte),
// a positive number of at most 63 bits. EHttpError 400 otherwise.
std::int64_t AccessIdValue(std::string_view text);

// A language code as the libraries are keyed: two ASCII letters, upper-cased ("en" -> "EN").
// Throws EHttpError 400 for anything else, which also keeps odd bytes out of the store.
std::string LanguageCode(std::string_view text);

} // namespace pellora
