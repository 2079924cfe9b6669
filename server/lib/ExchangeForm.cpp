#include "ExchangeForm.h"

#include "ExchangeErrors.h"
#include "platform/PercentCoding.h"
#include "platform/StrUtils.h"

#include <climits>

namespace pellora {

namespace {

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

} // namespace

std::string FormDecode(std::string_view text) {
    std::string result;
    std::size_t bad = 0;
    if (!PercentDecode(text, result, true, &bad))
        throw EHttpError(400, Format("Malformed escape at byte %zu of a form field", bad));
    return result;
}

TFormFields ParseForm(std::string_view text) {
    TFormFields fields;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view pair = text.substr(start, end - start);
        start = end + 1;
        if (pair.empty())
            continue;
        if (fields.size() == MaxFormFields)
            throw EHttpError(400, Format("A request has at most %zu fields", MaxFormFields));
        std::size_t equals = pair.find('=');
        std::string name = FormDecode(pair.substr(0, equals));
        std::string value =
            equals == std::string_view::npos ? std::string() : FormDecode(pair.substr(equals + 1));
        if (FindFormValue(fields, name))
            throw EHttpError(400, "Field '" + name + "' is given more than once");
        fields.emplace_back(std::move(name), std::move(value));
    }
    return fields;
}

const std::string* FindFormValue(const TFormFields& fields, std::string_view name) {
    for (const auto& [fieldName, value] : fields)
        if (fieldName == name)
            return &value;
    return nullptr;
}

const std::string& RequireFormValue(const TFormFields& fields, std::string_view name) {
    const std::string* value = FindFormValue(fields, name);
    if (!value)
        throw EHttpError(400, "Missing field '" + std::string(name) + "'");
    return *value;
}

std::int64_t AccessIdValue(std::string_view text) {
    constexpr std::int64_t Max = INT64_MAX;
    std::int64_t value = 0;
    bool digits = !text.empty();
    for (char c : text) {
        if (c < '0' || c > '9' || value > (Max - (c - '0')) / 10) {
            digits = false;
            break;
        }
        value = value * 10 + (c - '0');
    }
    if (!digits || value == 0)
        throw EHttpError(400, "The access id is not a positive whole number");
    return value;
}

std::string LanguageCode(std::string_view text) {
    if (text.size() != 2 || !IsAsciiLetter(text[0]) || !IsAsciiLetter(text[1]))
        throw EHttpError(400, "A language code is two letters, e.g. 'en'");
    return UpperCaseAscii(text);
}

} // namespace pellora
