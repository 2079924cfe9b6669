#pragma once

#include "skins/SysColors.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pellora {

// A property with a colour value.
struct TColorProp {
    std::string Name; // as written in the sheet
    TColor Color;     // RGB as 0x00BBGGRR
};

// A property with a text value (quotes removed, otherwise as written).
struct TValueProp {
    std::string Name;
    std::string Value; // never empty
};

// One block of a style sheet. Every name is compared without regard to ASCII letter case.
class TStyleRule {
public:
    std::vector<std::string> Selectors; // trimmed, none empty
    std::vector<TColorProp> ColorProps; // properties whose name ends in "color"
    std::vector<TValueProp> SizeProps;  // sizes and positions; stored, not converted
    std::vector<TValueProp> OtherProps; // everything else

    bool HasSelector(std::string_view selector) const;
    // The first declaration of the property, or null.
    const TColorProp* FindColor(std::string_view property) const;
    const TValueProp* FindOther(std::string_view property) const;
};

enum class TPropertyKind { Color, Size, Other };

// Decided by the text after the property name's last "-": "color" is a colour; "size",
// "height", "width", "left", "top", "right", "bottom", "margin", "indent" and "spacing" are
// sizes; anything else is another property.
TPropertyKind ClassifyProperty(std::string_view name);

// Removes one quote (single or double) from the end and one from the start; the two need not
// match. False, with `result` empty, when nothing is left.
bool Unquote(std::string_view text, std::string& result);

// Style sheets are a few dozen lines; anything far bigger is not one of ours.
constexpr std::size_t MaxStyleSheetBytes = std::size_t{1024} * 1024;

// A parsed "pellora.css": a line-oriented subset of CSS without cascade, inheritance or
// specificity. The first rule naming a selector is the only one ever consulted.
class TStyleSheet {
public:
    TStyleSheet() = default;
    virtual ~TStyleSheet() = default;
    TStyleSheet(const TStyleSheet&) = default;
    TStyleSheet& operator=(const TStyleSheet&) = default;
    TStyleSheet(TStyleSheet&&) = default;
    TStyleSheet& operator=(TStyleSheet&&) = default;

    // Reads the file as text lines and parses them. Throws EFileError when the file cannot be
    // read or is larger than MaxStyleSheetBytes; the rules are then left as they were.
    void LoadFromFile(const std::string& fileName);
    // Replaces every rule with those read from the lines. Never fails: malformed
    // declarations and colours are dropped, an unclosed block ends reading.
    void LoadFromLines(const std::vector<std::string>& lines);

    void Clear() { RuleList.clear(); }
    void AddRule(TStyleRule rule) { RuleList.push_back(std::move(rule)); }
    int Count() const { return static_cast<int>(RuleList.size()); }
    const std::vector<TStyleRule>& Rules() const { return RuleList; }

    // The first rule, in file order, that lists the selector; null when none does.
    const TStyleRule* FindRule(std::string_view selector) const;

    // Without a rule for the selector: false and `color` untouched. With a rule holding the
    // property: true and `color` receives it. With a rule lacking it: false and `color`
    // receives `defaultColor`.
    bool GetColor(std::string_view selector, std::string_view property, TColor& color,
                  TColor defaultColor) const;
    // `value` is emptied first, then receives the first non-colour, non-size declaration of
    // the property in the selector's rule; true when there was one.
    bool GetValue(std::string_view selector, std::string_view property, std::string& value) const;

    // "#RRGGBB", one of the 140 colour names, or "RRGGBB"; quotes around it are allowed.
    // The result is 0x00BBGGRR.
    static bool ParseColor(std::string_view text, TColor& color);
    // "url(name)" in any letter case, the name optionally quoted; `name` is upper-cased.
    static bool ParseUrl(std::string_view text, std::string& name);

private:
    std::vector<TStyleRule> RuleList;
};

// Reads blocks of a style sheet's lines and appends their rules to one sheet.
class TStyleRuleReader {
public:
    explicit TStyleRuleReader(TStyleSheet& sheet) : Sheet(sheet) {}

    // Reads the block that starts at line `start` (stray lines before its "{" belong to it).
    // True, with `consumed` set to the number of lines it spans, when a closed block was
    // found; false when there is none, which ends reading.
    bool ReadBlock(const std::vector<std::string>& lines, std::size_t start, std::size_t& consumed);

private:
    TStyleSheet& Sheet;
};

} // namespace pellora
