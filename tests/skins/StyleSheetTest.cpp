#include "skins/StyleSheet.h"
#include "platform/Errors.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace pellora;
using pellora::test::PutFile;
using pellora::test::TempDir;

namespace {

TStyleSheet Parse(std::vector<std::string> lines) {
    TStyleSheet sheet;
    sheet.LoadFromLines(lines);
    return sheet;
}

// The colour the sheet gives, or `fallback` with a marker when the lookup reports not found.
struct TLookup {
    bool Found;
    TColor Color;
};
TLookup Color(const TStyleSheet& sheet, std::string_view selector, std::string_view property) {
    TColor color = 0x0BADBAD;
    bool found = sheet.GetColor(selector, property, color, 0x0DEF);
    return {found, color};
}

std::string Value(const TStyleSheet& sheet, std::string_view selector, std::string_view property) {
    std::string value = "stale";
    return sheet.GetValue(selector, property, value) ? value : "<none:" + value + ">";
}

} // namespace

TEST(StyleSheet, BlockOnOneLineAndOnSeveralLinesGiveTheSameRule) {
    for (const auto& lines : std::vector<std::vector<std::string>>{
             {"body { background-color: #FF8000; color: navy }"},
             {"body", "{", "  background-color: #FF8000;", "  color: navy;", "}"},
             {"body {background-color:#FF8000;", "color:navy}"}}) {
        TStyleSheet sheet = Parse(lines);
        ASSERT_EQ(sheet.Count(), 1) << lines[0];
        auto bg = Color(sheet, "BODY", "Background-Color");
        EXPECT_TRUE(bg.Found);
        EXPECT_EQ(bg.Color, 0x0080FFu); // red in the low byte
        auto fg = Color(sheet, "body", "color");
        EXPECT_TRUE(fg.Found);
        EXPECT_EQ(fg.Color, 0x800000u);
    }
}

TEST(StyleSheet, SelectorsSplitOverLinesAreJoinedWithoutASeparator) {
    TStyleSheet joined = Parse({".caption,", ".label {", "color: red }"});
    EXPECT_TRUE(Color(joined, ".caption", "color").Found);
    EXPECT_TRUE(Color(joined, ".label", "color").Found);

    TStyleSheet glued = Parse({".caption", ".label {", "color: red }"});
    EXPECT_EQ(glued.FindRule(".caption"), nullptr);
    EXPECT_EQ(glued.FindRule(".label"), nullptr);
    EXPECT_NE(glued.FindRule(".caption.label"), nullptr);

    // Several selectors in any order, declarations in any order: every one answers.
    TStyleSheet many = Parse({" .list_sel_hide , body,.list { color: #000001; background-color: "
                              "#000002 }"});
    for (const char* selector : {"body", ".list", ".list_sel_hide"}) {
        EXPECT_EQ(Color(many, selector, "background-color").Color, 0x020000u) << selector;
        EXPECT_EQ(Color(many, selector, "color").Color, 0x010000u) << selector;
    }
    EXPECT_EQ(many.Rules()[0].Selectors,
              (std::vector<std::string>{".list_sel_hide", "body", ".list"}));
}

TEST(StyleSheet, CommentsAreRemovedWhereverTheyStand) {
    // A comment spanning lines joins the text around it into one line.
    TStyleSheet sheet =
        Parse({"/* head */ body /* a */ {", "color: red; /* one */ background-color: /* two",
               "still two */ blue; }", ".label { color: lime }"});
    ASSERT_EQ(sheet.Count(), 2);
    EXPECT_EQ(sheet.Rules()[0].Selectors, std::vector<std::string>{"body"});
    EXPECT_EQ(Color(sheet, "body", "color").Color, 0x0000FFu);
    EXPECT_EQ(Color(sheet, "body", "background-color").Color, 0xFF0000u);
    EXPECT_EQ(Color(sheet, ".label", "color").Color, 0x00FF00u);

    // An unclosed comment hides the rest of its block.
    TStyleSheet open = Parse({"body { color: red; /* background-color: blue; }"});
    EXPECT_TRUE(Color(open, "body", "color").Found);
    EXPECT_FALSE(Color(open, "body", "background-color").Found);

    // Braces count before comments go: a "}" inside a comment still ends the block, and the
    // rest of that block's lines become the next block's selector text.
    TStyleSheet early =
        Parse({"body { color: red; /* } */", "background-color: blue; }", ".label { color: red }"});
    EXPECT_TRUE(Color(early, "body", "color").Found);
    EXPECT_FALSE(Color(early, "body", "background-color").Found);
    EXPECT_EQ(early.FindRule(".label"), nullptr);
}

TEST(StyleSheet, StrayLinesBetweenBlocksJoinTheNextSelector) {
    TStyleSheet sheet = Parse({"body { color: red }", "stray", ".label { color: red }", ".list",
                               "{", "color: blue", "}"});
    EXPECT_NE(sheet.FindRule("body"), nullptr);
    EXPECT_EQ(sheet.FindRule(".label"), nullptr);
    EXPECT_NE(sheet.FindRule("stray.label"), nullptr);
    EXPECT_EQ(Color(sheet, ".list", "color").Color, 0xFF0000u);
}

TEST(StyleSheet, TextAfterTheClosingBraceBelongsToTheSameRule) {
    TStyleSheet sheet =
        Parse({"body { color: red } background-image: url(a.png)", ".label { color: blue }"});
    ASSERT_EQ(sheet.Count(), 2);
    EXPECT_EQ(Value(sheet, "body", "background-image"), "url(a.png)");
    EXPECT_TRUE(Color(sheet, ".label", "color").Found);

    TStyleSheet after = Parse({"body {", "color: red;", "} color: blue"});
    ASSERT_EQ(after.Rules()[0].ColorProps.size(), 2u);
    EXPECT_EQ(after.Rules()[0].ColorProps[1].Color, 0xFF0000u);
}

TEST(StyleSheet, OnlyTheFirstRuleOfASelectorIsConsulted) {
    TStyleSheet sheet = Parse({"body { color: red }", "body { color: blue; background-color: "
                                                      "lime; background-image: url(x.png) }"});
    EXPECT_EQ(Color(sheet, "body", "color").Color, 0x0000FFu);
    auto bg = Color(sheet, "body", "background-color");
    EXPECT_FALSE(bg.Found);
    EXPECT_EQ(bg.Color, 0x0DEFu); // the rule exists, so the default is written
    EXPECT_EQ(Value(sheet, "body", "background-image"), "<none:>");

    // Without a rule the caller's colour is left exactly as it was.
    auto none = Color(sheet, ".caption", "color");
    EXPECT_FALSE(none.Found);
    EXPECT_EQ(none.Color, 0x0BADBADu);
}

TEST(StyleSheet, ColoursThatDoNotParseAreDropped) {
    TStyleSheet sheet = Parse({"body { color: #abc; background-color: #AABBCCDD; border-color: "
                               "#12345G; x-color: rgb(1,2,3); y-color: clBtnFace; z-color: ab }",
                               ".ok { color: 'Tomato'; background-color: \"#0a0B0c\"; "
                               "border-color: 123456; x-color: LightGrey; y-color: lightgray }"});
    EXPECT_TRUE(sheet.Rules()[0].ColorProps.empty());
    auto fg = Color(sheet, "body", "color");
    EXPECT_FALSE(fg.Found);
    EXPECT_EQ(fg.Color, 0x0DEFu);

    EXPECT_EQ(Color(sheet, ".ok", "color").Color, 0x4763FFu);
    EXPECT_EQ(Color(sheet, ".ok", "background-color").Color, 0x0C0B0Au);
    EXPECT_EQ(Color(sheet, ".ok", "border-color").Color, 0x563412u);
    EXPECT_EQ(Color(sheet, ".ok", "x-color").Color, 0xD3D3D3u);
    EXPECT_FALSE(Color(sheet, ".ok", "y-color").Found);
}

TEST(StyleSheet, ParseColorAndParseUrlReadTheirSyntaxOnly) {
    TColor color = 7;
    EXPECT_FALSE(TStyleSheet::ParseColor("", color));
    EXPECT_FALSE(TStyleSheet::ParseColor("''", color));
    EXPECT_FALSE(TStyleSheet::ParseColor("#12", color));
    EXPECT_FALSE(TStyleSheet::ParseColor("#1234567", color));
    EXPECT_FALSE(TStyleSheet::ParseColor("red ", color)); // blanks are not trimmed here
    EXPECT_EQ(color, 7u);
    EXPECT_TRUE(TStyleSheet::ParseColor("Red'", color));
    EXPECT_EQ(color, 0x0000FFu);
    EXPECT_TRUE(TStyleSheet::ParseColor("ffFFff", color));
    EXPECT_EQ(color, 0xFFFFFFu);

    std::string name = "stale";
    EXPECT_TRUE(TStyleSheet::ParseUrl("URL('back.png')", name));
    EXPECT_EQ(name, "BACK.PNG");
    EXPECT_TRUE(TStyleSheet::ParseUrl("url( \"Tiles/Stone.jpg\" )", name));
    EXPECT_EQ(name, "TILES/STONE.JPG");
    EXPECT_TRUE(TStyleSheet::ParseUrl("Url(wood.bmp", name));
    EXPECT_EQ(name, "WOOD.BMP");
    EXPECT_FALSE(TStyleSheet::ParseUrl(" url(a.png)", name));
    EXPECT_EQ(name, "");
    EXPECT_FALSE(TStyleSheet::ParseUrl("url('')", name));
    EXPECT_FALSE(TStyleSheet::ParseUrl("image(a.png)", name));
}

TEST(StyleSheet, ValuesLoseTheirQuotesAndQuotesOnlyAreDropped) {
    std::string out;
    EXPECT_FALSE(Unquote("", out));
    EXPECT_FALSE(Unquote("\"", out));
    EXPECT_FALSE(Unquote("''", out));
    EXPECT_TRUE(Unquote("'mixed\"", out));
    EXPECT_EQ(out, "mixed");
    EXPECT_TRUE(Unquote("a'", out));
    EXPECT_EQ(out, "a");

    TStyleSheet sheet = Parse({".x { font-family: 'Arial Black'; cursor: \"\"; font-size: '';"
                               " margin-left: \"4px\"; background-image: url(a.png) }"});
    const TStyleRule& rule = sheet.Rules()[0];
    ASSERT_EQ(rule.OtherProps.size(), 2u);
    EXPECT_EQ(Value(sheet, ".x", "FONT-FAMILY"), "Arial Black");
    EXPECT_EQ(Value(sheet, ".x", "cursor"), "<none:>");
    ASSERT_EQ(rule.SizeProps.size(), 1u);
    EXPECT_EQ(rule.SizeProps[0].Name, "margin-left");
    EXPECT_EQ(rule.SizeProps[0].Value, "4px");
    // Size and colour properties are not answered as text.
    EXPECT_EQ(Value(sheet, ".x", "margin-left"), "<none:>");
}

TEST(StyleSheet, PropertiesAreClassifiedByTheirLastPart) {
    EXPECT_EQ(ClassifyProperty("background-color"), TPropertyKind::Color);
    EXPECT_EQ(ClassifyProperty("COLOR"), TPropertyKind::Color);
    EXPECT_EQ(ClassifyProperty("border-top-Color"), TPropertyKind::Color);
    EXPECT_EQ(ClassifyProperty("color-x"), TPropertyKind::Other);
    EXPECT_EQ(ClassifyProperty("colour"), TPropertyKind::Other);
    for (const char* size : {"font-size", "height", "x-width", "margin-left", "left", "top",
                             "right", "padding-bottom", "margin", "text-indent", "letter-spacing"})
        EXPECT_EQ(ClassifyProperty(size), TPropertyKind::Size) << size;
    EXPECT_EQ(ClassifyProperty("background-image"), TPropertyKind::Other);
    EXPECT_EQ(ClassifyProperty("font-family"), TPropertyKind::Other);
    EXPECT_EQ(ClassifyProperty("margin-"), TPropertyKind::Other);
}

TEST(StyleSheet, DeclarationsWithoutAColonAreIgnoredAndRepeatsKept) {
    TStyleSheet sheet = Parse({"body { nonsense; color: red;; color: blue ; font: a:b }"});
    const TStyleRule& rule = sheet.Rules()[0];
    ASSERT_EQ(rule.ColorProps.size(), 2u);
    EXPECT_EQ(rule.ColorProps[0].Name, "color");
    ASSERT_EQ(rule.OtherProps.size(), 1u);
    EXPECT_EQ(rule.OtherProps[0].Value, "a:b"); // cut at the first colon only
}

TEST(StyleSheet, MalformedAndUnclosedBlocksNeverStopEarlierRules) {
    // A block whose only line holds "}" before "{" has no body: it is passed over and the
    // blocks after it are still read; it does not shadow a later rule either.
    TStyleSheet sheet =
        Parse({"} , body {", "body { color: red }", "} {", "}{", ".label { color: blue }"});
    EXPECT_TRUE(Color(sheet, "body", "color").Found);
    EXPECT_TRUE(Color(sheet, ".label", "color").Found);

    // An unclosed block ends reading; what came before stays.
    TStyleSheet open = Parse({"body { color: red }", ".label { color: blue", ".list { color: red"});
    EXPECT_EQ(open.Count(), 1);
    EXPECT_EQ(open.FindRule(".list"), nullptr);

    // A block with nothing before "{" yields a rule nobody can find.
    TStyleSheet anonymous = Parse({"{ color: red }", "body { color: blue }"});
    EXPECT_EQ(anonymous.Count(), 2);
    EXPECT_EQ(Color(anonymous, "body", "color").Color, 0xFF0000u);

    EXPECT_EQ(Parse({}).Count(), 0);
    EXPECT_EQ(Parse({"", "   ", "no braces"}).Count(), 0);
    // The only "{" sits in a comment: no body, no rule, and reading goes on.
    TStyleSheet hidden = Parse({"/* { */", "}", "body { color: red }"});
    EXPECT_EQ(hidden.Count(), 1);
    EXPECT_TRUE(Color(hidden, "body", "color").Found);
}

TEST(StyleSheet, LoadingReplacesEveryRule) {
    TStyleSheet sheet = Parse({"body { color: red }"});
    sheet.LoadFromLines({".label { color: red }"});
    EXPECT_EQ(sheet.Count(), 1);
    EXPECT_EQ(sheet.FindRule("body"), nullptr);
}

TEST(StyleSheet, LoadFromFileReadsAnyLineEndAndSkipsAByteOrderMark) {
    TempDir dir;
    PutFile(dir / "a.css", "\xEF\xBB\xBF"
                           "body\r\n{\r\n  color: red;\r\n}\r\n.label { color: blue }\n");
    TStyleSheet sheet;
    sheet.LoadFromFile(dir / "a.css");
    EXPECT_EQ(sheet.Count(), 2);
    EXPECT_TRUE(Color(sheet, "body", "color").Found);
    EXPECT_TRUE(Color(sheet, ".label", "color").Found);
}

TEST(StyleSheet, AFileThatCannotBeUsedRaisesAndKeepsTheRules) {
    TempDir dir;
    TStyleSheet sheet = Parse({"body { color: red }"});
    EXPECT_THROW(sheet.LoadFromFile(dir / "missing.css"), EFileError);
    EXPECT_THROW(sheet.LoadFromFile(dir.Path()), EFileError); // a folder
    PutFile(dir / "big.css", "body { color: blue }\n" + std::string(MaxStyleSheetBytes, ' '));
    EXPECT_THROW(sheet.LoadFromFile(dir / "big.css"), EFileError);
    EXPECT_EQ(Color(sheet, "body", "color").Color, 0x0000FFu);
}
