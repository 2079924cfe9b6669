#include "net/HttpUtil.h"
#include "net/NetSync.h"
#include "platform/Errors.h"
#include "platform/PercentCoding.h"

#include <gtest/gtest.h>

namespace pellora {
namespace {

using Tokens = std::vector<std::string>;

TEST(UrlEncode, KeepsLettersAndDigitsAndEscapesEverythingElse) {
    EXPECT_EQ(UrlEncode("a-b_c.d*e f"), "a%2Db%5Fc%2Ed%2Ae+f");
    EXPECT_EQ(UrlEncode("AZaz09"), "AZaz09");
    EXPECT_EQ(UrlEncode("x|y\r\nz"), "x%7Cy%0D%0Az");
    EXPECT_EQ(UrlEncode(std::string("\x00\x7f\x80\xff", 4)), "%00%7F%80%FF");
    EXPECT_EQ(UrlEncode("caf\xc3\xa9"), "caf%C3%A9");
    EXPECT_EQ(UrlEncode(""), "");
}

TEST(PercentDecode, UndoesEscapesAndPointsAtABrokenOne) {
    std::string text;
    EXPECT_TRUE(PercentDecode("a%2Db%5fc+d%0D%0A", text));
    EXPECT_EQ(text, "a-b_c+d\r\n");
    EXPECT_TRUE(PercentDecode(UrlEncode("x y|\xff"), text, true));
    EXPECT_EQ(text, "x y|\xff");
    std::size_t at = 99;
    EXPECT_FALSE(PercentDecode("ok%4", text, false, &at));
    EXPECT_EQ(at, 2u);
    EXPECT_FALSE(PercentDecode("%g1", text, false, &at));
    EXPECT_EQ(at, 0u);
}

TEST(BuildPostData, JoinsNonEmptyLinesAndEncodesOnlyTheMessages) {
    TPellPost post;
    EXPECT_EQ(post.BuildPostData("EN", 17, {"NEW|3||-5|Be here"}),
              "action=add_deltas&file=messages&langcode=en&access_id=17&messages="
              "NEW%7C3%7C%7C%2D5%7CBe+here");
    EXPECT_EQ(post.BuildPostData("EN", 17, {"", "NEW|3||-5|One", "", "DEL|3|12|-2|Two", ""}),
              "action=add_deltas&file=messages&langcode=en&access_id=17&messages="
              "NEW%7C3%7C%7C%2D5%7COne%0D%0ADEL%7C3%7C12%7C%2D2%7CTwo");
    EXPECT_EQ(post.BuildPostData("Nl", -4, {}),
              "action=add_deltas&file=messages&langcode=nl&access_id=-4&messages=");
    EXPECT_EQ(
        post.BuildPostData("EN", 9223372036854775807, {}),
        "action=add_deltas&file=messages&langcode=en&access_id=9223372036854775807&messages=");
}

TEST(FindHeaderLine, FirstLineWithTheMarkerCaseSensitively) {
    const std::string headers = "HTTP/1.1 200 OK\r\npellora: access_id=1\r\nX: y\nPellora: "
                                "access_id=17\rPellora: access_id=99\r\n";
    EXPECT_EQ(GetExchangeHeader(headers), "Pellora: access_id=17");
    EXPECT_EQ(FindHeaderLine(headers, "X:"), "X: y");
    EXPECT_FALSE(FindHeaderLine(headers, "Missing:"));
    EXPECT_FALSE(GetExchangeHeader("HTTP/1.1 200 OK\r\npellora: access_id=17\r\n"));
    EXPECT_FALSE(GetExchangeHeader(""));
    // The marker may stand anywhere in the line.
    EXPECT_EQ(GetExchangeHeader("X-Pellora: new=1"), "X-Pellora: new=1");
}

TEST(GetLastModifiedHeader, TrimmedValueAfterTheName) {
    EXPECT_EQ(GetLastModifiedHeader("HTTP/1.1 200 OK\r\nLast-Modified:   Sat, 05 Dec 2026 "
                                    "10:00:00 GMT \t\r\nPellora: x=1\r\n"),
              "Sat, 05 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(GetLastModifiedHeader("Last-Modified:"), "");
    EXPECT_FALSE(GetLastModifiedHeader("last-modified: Sat, 05 Dec 2026 10:00:00 GMT"));
}

TEST(SplitTagAttributes, TokensAsTheScannerCutsThem) {
    EXPECT_EQ(SplitTagAttributes("Pellora: access_id=17"), (Tokens{"Pellora:", "access_id=17"}));
    EXPECT_EQ(SplitTagAttributes("  <Pellora: a=\"x y\"  b=2 >"),
              (Tokens{"Pellora:", "a=\"x y\"", "b=2 "}));
    EXPECT_EQ(SplitTagAttributes("Pellora: new=2 accepted=3 appended=3"),
              (Tokens{"Pellora:", "new=2 ", "accepted=3 ", "appended=3"}));
    // A bare word after the last space is dropped; without any token the text is the token.
    EXPECT_EQ(SplitTagAttributes("one two three"), (Tokens{"one", "two"}));
    EXPECT_EQ(SplitTagAttributes("single"), (Tokens{"single"}));
    EXPECT_EQ(SplitTagAttributes("a=1"), (Tokens{"a=1"}));
    EXPECT_EQ(SplitTagAttributes("x a="), (Tokens{"x", "a="}));
    EXPECT_EQ(SplitTagAttributes("a=\"open"), (Tokens{"a=\"open"}));
    EXPECT_TRUE(SplitTagAttributes("   ").empty());
    EXPECT_TRUE(SplitTagAttributes("<>").empty());
}

TEST(GetTagAttribute, NameWithoutCaseValueTrimmedAndDequoted) {
    Tokens tokens = SplitTagAttributes("Pellora: Access_Id=17 n=\"open");
    EXPECT_EQ(GetTagAttribute(tokens, "access_id"), "17");
    EXPECT_EQ(GetTagAttribute(tokens, "n"), "\"open");
    EXPECT_EQ(GetTagAttribute({"q = \"say \"\"hi\"\"\" ", "q=2"}, "Q"), "say \"hi\"");
    EXPECT_EQ(GetTagAttribute({"e=\"\""}, "e"), "");
    EXPECT_FALSE(GetTagAttribute(tokens, "Pellora"));
    EXPECT_FALSE(GetTagAttribute(tokens, "missing"));
}

TEST(ParseAccessId, FindsTheIdOnlyWhereTheScannerSeesIt) {
    EXPECT_EQ(ParseAccessId("Pellora: access_id=17"), 17);
    EXPECT_EQ(ParseAccessId("Pellora: ACCESS_ID=17"), 17);
    EXPECT_EQ(ParseAccessId("<Pellora: access_id=\"17\">"), 17);
    EXPECT_EQ(ParseAccessId("Pellora: other=1 access_id=-3 more=x"), -3);
    EXPECT_FALSE(ParseAccessId("Pellora: access_id = 9"));
    EXPECT_FALSE(ParseAccessId("Pellora: id=9"));
    EXPECT_THROW(ParseAccessId("Pellora: access_id=abc"), EConvertError);
    // Ids of 63 bits are whole; beyond 64 bits is no number.
    EXPECT_EQ(ParseAccessId("Pellora: access_id=9223372036854775807"), INT64_MAX);
    EXPECT_THROW(ParseAccessId("Pellora: access_id=9223372036854775808"), EConvertError);
}

TEST(ParseUploadCounts, AllThreeOrNothing) {
    std::optional<TUploadCounts> counts = ParseUploadCounts("Pellora: new=2 accepted=3 appended=4");
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->New, 2);
    EXPECT_EQ(counts->Accepted, 3);
    EXPECT_EQ(counts->Appended, 4);
    EXPECT_FALSE(ParseUploadCounts("Pellora: new=1 accepted=2"));
    EXPECT_FALSE(ParseUploadCounts("Pellora: <accepted=3 new=1 appended=3"));
    EXPECT_THROW(ParseUploadCounts("Pellora: new=x accepted=1 appended=1"), EConvertError);
}

TEST(ServerLimit, NamesTheLimitTheAddressAndWhenToTryAgain) {
    auto text = [](int status, const std::string& headers) {
        std::optional<TServerLimit> limit = ParseServerLimit(status, headers);
        return limit ? ServerLimitText(*limit, "http://h/edit.cgi") : std::string("none");
    };
    EXPECT_EQ(text(200, "Pellora-Limit: upload-lines=1\r\nRetry-After: 5"), "none");
    EXPECT_EQ(text(429, "HTTP/1.1 429 Too Many Requests\r\npellora-limit:  "
                        "address-lines-per-day=1000 \r\nRetry-After: 18720\r\n"),
              "The exchange server at http://h/edit.cgi takes at most 1000 changes a day from one "
              "internet address (address-lines-per-day=1000).\r\nPlease try again in 5 hours and "
              "12 minutes.");
    // Without a limit's name, the status says what kind of refusal it is; times round up.
    EXPECT_EQ(text(503, "Retry-After: 30"), "The exchange server at http://h/edit.cgi cannot "
                                            "take the request right now.\r\nPlease try again "
                                            "in 30 seconds.");
    EXPECT_EQ(text(429, "Retry-After: 61"), "The exchange server at http://h/edit.cgi has had "
                                            "too many requests from here.\r\nPlease try again "
                                            "in 2 minutes.");
    EXPECT_EQ(text(413, ""), "The exchange server at http://h/edit.cgi refused the request as "
                             "too large.\r\nTrying again will not help.");
    EXPECT_EQ(text(503, "Retry-After: 172801"), "The exchange server at http://h/edit.cgi cannot "
                                                "take the request right now.\r\nPlease try "
                                                "again in 3 days.");
    EXPECT_EQ(text(503, "Retry-After: 99999999999"), "The exchange server at http://h/edit.cgi "
                                                     "cannot take the request right now.\r\n"
                                                     "Please try again in more than a week.");
    // What a hostile server sends is shown harmless; a date or a huge number reads as later.
    EXPECT_EQ(text(503, "Pellora-Limit: disk=\x1b[2J1\r\nRetry-After: Fri, 07 Nov 2025 "
                        "10:00:00 GMT"),
              "The exchange server at http://h/edit.cgi has reached its limit disk= [2J1.\r\n"
              "Please try again later.");
    EXPECT_EQ(text(429, "Pellora-Limit: upload-lines=x\r\nRetry-After: 99999999999999999999"),
              "The exchange server at http://h/edit.cgi has reached its limit upload-lines=x.\r\n"
              "Please try again later.");
}

} // namespace
} // namespace pellora
