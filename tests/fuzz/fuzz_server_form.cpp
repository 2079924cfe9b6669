#include "ExchangeErrors.h"
#include "ExchangeForm.h"
#include "HttpDate.h"
#include "net/HttpUtil.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

using namespace pellora;

namespace {

void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

} // namespace

// A request's query or form body and its If-Modified-Since text: the parser either refuses
// with 400 or gives fields that the client's encoder writes back to the same fields.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);

    TFormFields fields;
    try {
        fields = ParseForm(text);
    } catch (const EHttpError& error) {
        Check(error.Status == 400);
        fields.clear();
    }
    std::set<std::string> names;
    std::string again;
    for (const auto& [name, value] : fields) {
        Check(names.insert(name).second);
        Check(FindFormValue(fields, name) == &value);
        if (!again.empty())
            again += '&';
        again += UrlEncode(name) + "=" + UrlEncode(value);
        try {
            std::string code = LanguageCode(value);
            Check(code.size() == 2 && code[0] >= 'A' && code[0] <= 'Z' && code[1] >= 'A' &&
                  code[1] <= 'Z');
        } catch (const EHttpError& error) {
            Check(error.Status == 400);
        }
    }
    Check(ParseForm(again) == fields);

    if (auto seconds = ParseHttpDate(text)) {
        Check(ParseHttpDate(FormatHttpDate(*seconds)) == seconds);
    }
    return 0;
}
