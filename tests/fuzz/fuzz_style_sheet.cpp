// Any bytes as a "pellora.css": parsing must never crash, and every rule it yields must keep
// the promises the painters rely on.

#include "platform/FileUtil.h"
#include "platform/StrUtils.h"
#include "skins/StyleSheet.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace pellora;

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto lines = SplitTextLines(bytes);
    TStyleSheet sheet;
    sheet.LoadFromLines(lines);

    // A block spans at least one line, so there are never more rules than lines.
    Check(static_cast<std::size_t>(sheet.Count()) <= lines.size());
    for (const auto& rule : sheet.Rules()) {
        for (const auto& selector : rule.Selectors) {
            Check(!selector.empty());
            // The first rule of a selector answers for it.
            const TStyleRule* found = sheet.FindRule(selector);
            Check(found != nullptr && found->HasSelector(selector));
        }
        for (const auto& prop : rule.ColorProps) {
            Check(ClassifyProperty(prop.Name) == TPropertyKind::Color);
            Check((prop.Color & 0xFF000000u) == 0); // parsed colours are never system colours
        }
        for (const auto& prop : rule.SizeProps)
            Check(!prop.Value.empty() && ClassifyProperty(prop.Name) == TPropertyKind::Size);
        for (const auto& prop : rule.OtherProps)
            Check(!prop.Value.empty() && ClassifyProperty(prop.Name) == TPropertyKind::Other);
    }

    // The painter's questions, on whatever came out.
    TColor color = 0x12345678u;
    std::string value, name;
    if (!sheet.FindRule("body"))
        Check(!sheet.GetColor("body", "color", color, 0) && color == 0x12345678u);
    if (sheet.GetValue("body", "background-image", value)) {
        Check(!value.empty());
        if (TStyleSheet::ParseUrl(value, name))
            Check(!name.empty());
    }

    // The single-value parsers on the raw input.
    TStyleSheet::ParseColor(bytes, color);
    if (TStyleSheet::ParseUrl(bytes, name))
        Check(!name.empty() && name == UpperCaseAscii(name));
    return 0;
}
