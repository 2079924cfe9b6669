#include "skins/StyleSheet.h"

#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"
#include "skins/WebColors.h"

#include <filesystem>
#include <system_error>

namespace pellora {

namespace {

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

// Exactly six hex digits read as RRGGBB.
bool ParseHex6(std::string_view text, TColor& color) {
    if (text.size() != 6)
        return false;
    std::uint32_t rgb = 0;
    for (char c : text) {
        int digit = HexDigit(c);
        if (digit < 0)
            return false;
        rgb = rgb << 4 | static_cast<std::uint32_t>(digit);
    }
    color = RGBColor(static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
                     static_cast<std::uint8_t>(rgb));
    return true;
}

// Removes every "/*" through the next "*/"; an unclosed comment runs to the end.
std::string StripComments(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (;;) {
        std::size_t open = text.find("/*", pos);
        if (open == std::string_view::npos) {
            out.append(text.substr(pos));
            break;
        }
        out.append(text.substr(pos, open - pos));
        std::size_t close = text.find("*/", open + 2);
        if (close == std::string_view::npos)
            break;
        pos = close + 2;
    }
    return out;
}

void AddDeclaration(TStyleRule& rule, std::string_view declaration) {
    std::size_t colon = declaration.find(':');
    if (colon == std::string_view::npos)
        return;
    std::string name = Trim(declaration.substr(0, colon));
    std::string_view value = TrimView(declaration.substr(colon + 1));
    switch (ClassifyProperty(name)) {
    case TPropertyKind::Color: {
        TColor color = 0;
        if (TStyleSheet::ParseColor(value, color))
            rule.ColorProps.push_back({std::move(name), color});
        break;
    }
    case TPropertyKind::Size: {
        std::string text;
        if (Unquote(value, text))
            rule.SizeProps.push_back({std::move(name), std::move(text)});
        break;
    }
    case TPropertyKind::Other: {
        std::string text;
        if (Unquote(value, text))
            rule.OtherProps.push_back({std::move(name), std::move(text)});
        break;
    }
    }
}

} // namespace

bool TStyleRule::HasSelector(std::string_view selector) const {
    for (const auto& s : Selectors)
        if (SameText(s, selector))
            return true;
    return false;
}

const TColorProp* TStyleRule::FindColor(std::string_view property) const {
    for (const auto& p : ColorProps)
        if (SameText(p.Name, property))
            return &p;
    return nullptr;
}

const TValueProp* TStyleRule::FindOther(std::string_view property) const {
    for (const auto& p : OtherProps)
        if (SameText(p.Name, property))
            return &p;
    return nullptr;
}

TPropertyKind ClassifyProperty(std::string_view name) {
    std::size_t dash = name.rfind('-');
    std::string tail =
        UpperCaseAscii(dash == std::string_view::npos ? name : name.substr(dash + 1));
    if (tail == "COLOR")
        return TPropertyKind::Color;
    static constexpr std::string_view sizes[] = {"SIZE",  "HEIGHT", "WIDTH",  "LEFT",   "TOP",
                                                 "RIGHT", "BOTTOM", "MARGIN", "INDENT", "SPACING"};
    for (std::string_view size : sizes)
        if (tail == size)
            return TPropertyKind::Size;
    return TPropertyKind::Other;
}

bool Unquote(std::string_view text, std::string& result) {
    result.clear();
    if (text.empty())
        return false;
    if (IsQuote(text.back()))
        text.remove_suffix(1);
    if (text.empty())
        return false;
    if (IsQuote(text.front()))
        text.remove_prefix(1);
    result.assign(text);
    return !result.empty();
}

void TStyleSheet::LoadFromFile(const std::string& fileName) {
    // Checked before reading so that a huge or special file is never read into memory.
    std::error_code error;
    auto size = std::filesystem::file_size(fileName, error);
    if (error)
        throw EFileError(
            Format("Cannot open \"%s\": %s", fileName.c_str(), error.message().c_str()));
    if (size > MaxStyleSheetBytes)
        throw EFileError(Format("\"%s\" is too large for a style sheet", fileName.c_str()));
    std::string bytes = ReadFileBytes(fileName);
    if (bytes.size() > MaxStyleSheetBytes)
        throw EFileError(Format("\"%s\" is too large for a style sheet", fileName.c_str()));
    // Editors often start UTF-8 files with a byte order mark; it would spoil the first selector.
    std::string_view text(bytes);
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    LoadFromLines(SplitTextLines(text));
}

void TStyleSheet::LoadFromLines(const std::vector<std::string>& lines) {
    Clear();
    TStyleRuleReader reader(*this);
    std::size_t start = 0;
    std::size_t consumed = 0;
    while (start < lines.size() && reader.ReadBlock(lines, start, consumed))
        start += consumed;
}

const TStyleRule* TStyleSheet::FindRule(std::string_view selector) const {
    for (const auto& rule : RuleList)
        if (rule.HasSelector(selector))
            return &rule;
    return nullptr;
}

bool TStyleSheet::GetColor(std::string_view selector, std::string_view property, TColor& color,
                           TColor defaultColor) const {
    const TStyleRule* rule = FindRule(selector);
    if (rule == nullptr)
        return false;
    if (const TColorProp* prop = rule->FindColor(property)) {
        color = prop->Color;
        return true;
    }
    color = defaultColor;
    return false;
}

bool TStyleSheet::GetValue(std::string_view selector, std::string_view property,
                           std::string& value) const {
    value.clear();
    const TStyleRule* rule = FindRule(selector);
    if (rule == nullptr)
        return false;
    if (const TValueProp* prop = rule->FindOther(property))
        value = prop->Value;
    return !value.empty();
}

bool TStyleSheet::ParseColor(std::string_view text, TColor& color) {
    std::string value;
    if (!Unquote(text, value) || value.size() <= 2)
        return false;
    if (value[0] == '#')
        return ParseHex6(std::string_view(value).substr(1), color);
    if (TWebColors::Find(value, color))
        return true;
    return ParseHex6(value, color);
}

bool TStyleSheet::ParseUrl(std::string_view text, std::string& name) {
    name.clear();
    std::string upper = UpperCaseAscii(text);
    std::string_view rest(upper);
    if (rest.substr(0, 4) != "URL(")
        return false;
    rest.remove_prefix(4);
    if (!rest.empty() && rest.back() == ')')
        rest.remove_suffix(1);
    return Unquote(TrimView(rest), name);
}

namespace {

// The block's lines from start through close without comments, trimmed, empty ones dropped.
// Comments may span lines, so they are removed from the block's text as a whole.
std::vector<std::string> BlockLines(const std::vector<std::string>& lines, std::size_t start,
                                    std::size_t close) {
    std::string joined;
    for (std::size_t i = start; i <= close; ++i) {
        joined += lines[i];
        joined += '\n';
    }
    const std::string text = StripComments(joined);
    std::vector<std::string> block;
    for (std::string_view piece : SplitFields(text, '\n')) {
        std::string line = Trim(piece);
        if (!line.empty())
            block.push_back(std::move(line));
    }
    return block;
}

// The closing brace on the body's last line: text after it on the same line still belongs
// to this rule.
void CutClosingBrace(std::vector<std::string>& body) {
    std::size_t closePos = body.back().find('}');
    if (closePos == std::string::npos)
        return;
    std::string before = Trim(std::string_view(body.back()).substr(0, closePos));
    std::string after = Trim(std::string_view(body.back()).substr(closePos + 1));
    if (before.empty() && after.empty()) {
        body.pop_back();
    } else if (!before.empty() && !after.empty()) {
        body.back() = std::move(before);
        body.push_back(std::move(after));
    } else {
        body.back() = before.empty() ? std::move(after) : std::move(before);
    }
}

TStyleRule MakeRule(const std::string& selectorText, const std::vector<std::string>& body) {
    TStyleRule rule;
    for (std::string_view piece : SplitFields(selectorText, ',')) {
        std::string selector = Trim(piece);
        if (!selector.empty())
            rule.Selectors.push_back(std::move(selector));
    }
    for (const auto& line : body)
        for (std::string_view piece : SplitFields(line, ';')) {
            std::string_view declaration = TrimView(piece);
            if (!declaration.empty())
                AddDeclaration(rule, declaration);
        }
    return rule;
}

} // namespace

bool TStyleRuleReader::ReadBlock(const std::vector<std::string>& lines, std::size_t start,
                                 std::size_t& consumed) {
    std::size_t open = start;
    while (open < lines.size() && lines[open].find('{') == std::string::npos)
        ++open;
    if (open >= lines.size())
        return false;
    std::size_t close = open;
    while (close < lines.size() && lines[close].find('}') == std::string::npos)
        ++close;
    if (close >= lines.size())
        return false;
    consumed = close - start + 1;

    // The braces above were found before the comments went, as the block's extent depends on
    // them alone.
    std::vector<std::string> block = BlockLines(lines, start, close);

    // Selector text: every line up to the first "{", joined without a separator.
    std::string selectorText;
    std::size_t braceLine = block.size();
    std::size_t bracePos = std::string::npos;
    for (std::size_t i = 0; i < block.size(); ++i) {
        bracePos = block[i].find('{');
        if (bracePos == std::string::npos) {
            selectorText += block[i];
        } else {
            selectorText += Trim(std::string_view(block[i]).substr(0, bracePos));
            braceLine = i;
            break;
        }
    }
    if (selectorText.empty()) {
        // A rule nobody can find: kept so the block still counts, but it holds nothing.
        Sheet.AddRule(TStyleRule());
        return true;
    }
    // No "{" left once comments are gone, or nothing after it (as in "} {"): there is no
    // body to read, so the block is passed over without a rule.
    if (braceLine == block.size())
        return true;
    std::vector<std::string> body;
    std::string first = Trim(std::string_view(block[braceLine]).substr(bracePos + 1));
    if (!first.empty())
        body.push_back(std::move(first));
    for (std::size_t i = braceLine + 1; i < block.size(); ++i)
        body.push_back(std::move(block[i]));
    if (body.empty())
        return true;
    CutClosingBrace(body);
    Sheet.AddRule(MakeRule(selectorText, body));
    return true;
}

} // namespace pellora
