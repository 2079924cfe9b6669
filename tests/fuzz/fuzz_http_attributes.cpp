// Arbitrary bytes as an exchange reply line: the attribute scanner, the look-up and the
// number parsers. The only failure a reply may cause is a bad number (EConvertError); every
// token must be a piece of the line, in order, and a found number must be what the token
// says. The same bytes also go through the form encoder, which must decode back to them, and
// through the decoder, which must take them or point at a "%" that starts no escape.

#include "net/HttpUtil.h"
#include "net/NetSync.h"
#include "platform/Errors.h"
#include "platform/PercentCoding.h"
#include "platform/StrUtils.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace pellora;

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "attribute check failed: %s\n", what);
    std::abort();
}

void CheckNumber(const std::vector<std::string>& tokens, const char* name,
                 std::optional<std::int64_t> found) {
    std::optional<std::string> value = GetTagAttribute(tokens, name);
    if (value.has_value() != found.has_value())
        Fail("number found without its token");
    if (found && ParseInt64(Trim(*value)) != found)
        Fail("number differs from its token");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string line(reinterpret_cast<const char*>(data), size);

    std::vector<std::string> tokens = SplitTagAttributes(line);
    std::size_t from = 0;
    for (const std::string& token : tokens) {
        std::size_t at = line.find(token, from);
        if (at == std::string::npos)
            Fail("token is not a piece of the line");
        from = at + token.size();
    }

    try {
        CheckNumber(tokens, "access_id", ParseAccessId(line));
    } catch (const EConvertError&) {
        if (!GetTagAttribute(tokens, "access_id"))
            Fail("conversion error without a value");
    }
    try {
        std::optional<TUploadCounts> counts = ParseUploadCounts(line);
        if (counts) {
            CheckNumber(tokens, "new", counts->New);
            CheckNumber(tokens, "accepted", counts->Accepted);
            CheckNumber(tokens, "appended", counts->Appended);
        }
    } catch (const EConvertError&) {
    }

    std::string encoded = UrlEncode(line);
    for (char c : encoded)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
              c == '+' || c == '%'))
            Fail("unsafe byte in the form encoding");
    std::string decoded;
    if (!PercentDecode(encoded, decoded, true) || decoded != line)
        Fail("form encoding does not decode back");

    std::size_t bad = std::string::npos;
    if (!PercentDecode(line, decoded, false, &bad)) {
        if (bad >= line.size() || line[bad] != '%')
            Fail("a refused text does not point at its \"%\"");
        std::string before;
        if (!PercentDecode(line.substr(0, bad), before))
            Fail("the text before the first bad escape is refused");
    } else if (decoded.size() > line.size()) {
        Fail("decoding made the text longer");
    }
    return 0;
}
