#include "ExchangeDelta.h"
#include "ExchangeErrors.h"
#include "ExchangeForm.h"
#include "HttpDate.h"
#include "net/HttpUtil.h"
#include "net/NetSync.h"

#include <gtest/gtest.h>

using namespace pellora;

namespace {

// The status and text of the EHttpError the call throws; {0, ""} when it throws none.
template <class Call> std::pair<int, std::string> Refusal(Call call) {
    try {
        call();
    } catch (const EHttpError& error) {
        return {error.Status, error.what()};
    }
    return {0, ""};
}

} // namespace

TEST(ExchangeForm, DecodesWhatTheClientEncodesForEveryByte) {
    std::string all;
    for (int c = 0; c < 256; ++c)
        all += static_cast<char>(c);
    EXPECT_EQ(FormDecode(UrlEncode(all)), all);
    EXPECT_EQ(FormDecode("a+b%7Cc%0d%0A%2d"), "a b|c\r\n-");
    EXPECT_EQ(FormDecode(""), "");
}

TEST(ExchangeForm, RefusesBrokenEscapes) {
    for (const char* text : {"%", "%4", "abc%", "%G0", "%0G", "a%%20"})
        EXPECT_EQ(Refusal([&] { FormDecode(text); }).first, 400) << text;
    // The answer points at the escape that is broken.
    EXPECT_EQ(Refusal([] { FormDecode("a+%41%4"); }).second,
              "Malformed escape at byte 5 of a form field");
}

TEST(ExchangeForm, SplitsTheClientsUploadBody) {
    std::string body =
        TPellPost().BuildPostData("EN", 17, {"NEW|3||-5|One", "", "DEL|3|12|-2|Two & a half=more"});
    TFormFields fields = ParseForm(body);
    ASSERT_EQ(fields.size(), 5u);
    EXPECT_EQ(RequireFormValue(fields, "action"), "add_deltas");
    EXPECT_EQ(RequireFormValue(fields, "file"), "messages");
    EXPECT_EQ(RequireFormValue(fields, "langcode"), "en");
    EXPECT_EQ(RequireFormValue(fields, "access_id"), "17");
    EXPECT_EQ(RequireFormValue(fields, "messages"),
              "NEW|3||-5|One\r\nDEL|3|12|-2|Two & a half=more");
}

TEST(ExchangeForm, ReadsLooseQueriesAndRefusesAmbiguousOnes) {
    TFormFields fields = ParseForm("&file=messages&&flag&langcode=e%6E&empty=");
    EXPECT_EQ(fields.size(), 4u);
    EXPECT_EQ(*FindFormValue(fields, "flag"), "");
    EXPECT_EQ(*FindFormValue(fields, "langcode"), "en");
    EXPECT_EQ(*FindFormValue(fields, "empty"), "");
    EXPECT_EQ(FindFormValue(fields, "FILE"), nullptr);
    EXPECT_TRUE(ParseForm("").empty());

    auto missing = Refusal([&] { RequireFormValue(fields, "access_id"); });
    EXPECT_EQ(missing.first, 400);
    EXPECT_NE(missing.second.find("access_id"), std::string::npos);
    // Two access ids in one upload: which one is meant cannot be told.
    auto twice = Refusal([] { ParseForm("access_id=1&x=2&access_id=3"); });
    EXPECT_EQ(twice.first, 400);
    EXPECT_NE(twice.second.find("access_id"), std::string::npos);
    // No request has more fields than an upload; a flood of them is refused at once.
    std::string flood;
    for (int i = 0; i < 160000; ++i)
        flood.append("f").append(std::to_string(i)).append("=&");
    EXPECT_EQ(Refusal([&] { ParseForm(flood); }).first, 400);
    EXPECT_EQ(ParseForm("a=1&b=2&c=3&d=4&e=5&&&").size(), 5u);
}

TEST(ExchangeForm, AccessIdsAreDigitsOnly) {
    EXPECT_EQ(AccessIdValue("17"), 17);
    EXPECT_EQ(AccessIdValue("9223372036854775807"), INT64_MAX);
    for (const std::string& text :
         std::vector<std::string>{"", "0", "-1", "+1", " 1", "1 ", "1x", "9223372036854775808",
                                  std::string("1\0", 2), "0x10"})
        EXPECT_EQ(Refusal([&] { AccessIdValue(text); }).first, 400) << text;
}

TEST(ExchangeForm, LanguageCodesAreTwoLetters) {
    EXPECT_EQ(LanguageCode("en"), "EN");
    EXPECT_EQ(LanguageCode("nL"), "NL");
    for (const char* code : {"", "e", "eng", "e1", "e ", "\xc3\xa9", "../"})
        EXPECT_EQ(Refusal([&] { LanguageCode(code); }).first, 400) << code;
}

TEST(ExchangeDelta, ParsesTheLinesTheClientSends) {
    EXPECT_EQ(ParseDeltaLine("NEW|3||-5|Be here"), (TDelta{TMsgAction::New, 3, 0, -5, "Be here"}));
    EXPECT_EQ(ParseDeltaLine(" MOD | 1 | 12 | -2 |  Look at your hands. \t"),
              (TDelta{TMsgAction::Mod, 1, 12, -2, "Look at your hands."}));
    EXPECT_EQ(ParseDeltaLine("DEL|4|7|-9|"), (TDelta{TMsgAction::Del, 4, 7, -9, ""}));
    EXPECT_EQ(
        ParseDeltaLine("NEW|2||-1|Gr\xc3\xbc\xc3\x9f Gott \xe2\x80\x94 \xf0\x9f\x99\x82").Text,
        "Gr\xc3\xbc\xc3\x9f Gott \xe2\x80\x94 \xf0\x9f\x99\x82");
}

TEST(ExchangeDelta, RefusesMalformedLinesWithTheReason) {
    struct Case {
        const char* Line;
        const char* Reason;
    };
    for (const Case& c : {
             Case{"NEW|3||-5", "five fields"},
             Case{"new|3||-5|x", "'new'"},
             Case{"|NEW|3|||-5|journal line, not a delta", "''"},
             Case{"NEW|0||-5|x", "group 0"},
             Case{"NEW|5||-5|x", "group 5"},
             Case{"NEW|||-5|x", "group ''"},
             Case{"MOD|1|x12|-5|x", "server id 'x12'"},
             Case{"MOD|1|2147483648|-5|x", "server id"},
             Case{"NEW|1||- 5|x", "own id '- 5'"},
             // Text after a further "|" would be lost in the journal line stored for it.
             Case{"NEW|2||-1|A|B", "'|'"},
             Case{"NEW|2||-1|", "needs a text"},
             Case{"MOD|2|5|-1|  ", "needs a text"},
             Case{"NEW|2||-1|a\x1b[2Jb", "control character"},
             Case{"NEW|2||-1|a\tb", "control character"},
             Case{"NEW|2||-1|a\xc2\x9b"
                  "6nb",
                  "control character"},
             Case{"NEW|2||-1|caf\xe9", "UTF-8"},
             Case{"NEW|2||-1|\xc0\xaf", "UTF-8"},     // overlong "/"
             Case{"NEW|2||-1|\xed\xa0\x80", "UTF-8"}, // a surrogate
             Case{"NEW|2||-1|\xf4\x90\x80\x80", "UTF-8"},
         }) {
        auto refusal = Refusal([&] { ParseDeltaLine(c.Line); });
        EXPECT_EQ(refusal.first, 400) << c.Line;
        EXPECT_NE(refusal.second.find(c.Reason), std::string::npos) << refusal.second;
    }
    // A NUL would cut every later download of the library short at the client.
    std::string withNul("NEW|1||-1|a\0b", 13);
    EXPECT_EQ(Refusal([&] { ParseDeltaLine(withNul); }).first, 400);
    EXPECT_EQ(
        Refusal([] { ParseDeltaLine("NEW|1||-1|" + std::string(MaxTextBytes + 1, 'a')); }).first,
        400);
    EXPECT_EQ(Refusal([] { ParseDeltaLine("DEL|1|5|-1|"); }).first, 0);
}

TEST(ExchangeDelta, ParsesAllLinesOrNamesTheBadOne) {
    auto deltas = ParseDeltaLines("NEW|1||-1|One\r\n\r\n  \nMOD|2|8|-3|Two\rDEL|3|9|-4|\r\n");
    ASSERT_EQ(deltas.size(), 3u);
    EXPECT_EQ(deltas[0].Text, "One");
    EXPECT_EQ(deltas[1].Action, TMsgAction::Mod);
    EXPECT_EQ(deltas[2].ServerId, 9);
    EXPECT_TRUE(ParseDeltaLines("").empty());

    auto bad = Refusal([] { ParseDeltaLines("NEW|1||-1|One\r\nNEW|9||-2|Two\r\n"); });
    EXPECT_EQ(bad.first, 400);
    EXPECT_EQ(bad.second.rfind("Delta line 2: ", 0), 0u) << bad.second;
}

TEST(HttpDate, FormatsAndReadsTheThreeForms) {
    const std::int64_t t = 784111777; // Sun, 06 Nov 1994 08:49:37 GMT
    EXPECT_EQ(FormatHttpDate(t), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(FormatHttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(FormatHttpDate(1796464800), "Sat, 05 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(FormatHttpDate(951782400), "Tue, 29 Feb 2000 00:00:00 GMT");
    EXPECT_EQ(FormatIsoTime(t), "1994-11-06T08:49:37Z");

    EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), t);
    EXPECT_EQ(ParseHttpDate("  Sun, 06 Nov 1994 08:49:37 GMT\r\n"), t);
    EXPECT_EQ(ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), t);
    EXPECT_EQ(ParseHttpDate("Sun Nov  6 08:49:37 1994"), t);
    EXPECT_EQ(ParseHttpDate("Sat, 05 Dec 2026 10:00:00 GMT"), 1796464800);
    EXPECT_EQ(ParseHttpDate("Thu, 01 Jan 2032 00:00:01 GMT"), 1956528001);
    for (std::int64_t s : {std::int64_t{0}, std::int64_t{951868799}, std::int64_t{4102444799}})
        EXPECT_EQ(ParseHttpDate(FormatHttpDate(s)), s);
}

TEST(HttpDate, RefusesWhatIsNotADate) {
    for (const char* text :
         {"", "yesterday", "Sun, 06 Nov 1994 08:49:37", "Sun, 06 Nov 1994 08:49:37 UTC",
          "Sun, 6 Nov 1994 08:49:37 GMT", "Sun, 31 Feb 1994 08:49:37 GMT",
          "Sun, 29 Feb 1900 08:49:37 GMT", "Sun, 06 Nov 1994 24:00:00 GMT",
          "Sun, 06 Nov 1994 08:60:00 GMT", "Sun, 06 Foo 1994 08:49:37 GMT",
          "Sun, 06 Nov 1994 08:49:37 GMT trailing", "Sun Nov 6 08:49:37 1994"})
        EXPECT_FALSE(ParseHttpDate(text).has_value()) << text;
}
