#include "ExchangeCgi.h"
#include "ExchangeErrors.h"
#include "ExchangeStore.h"
#include "ProgramRun.h"
#include "core/MsgRecord.h"
#include "net/HttpUtil.h"
#include "net/NetSync.h"
#include "platform/FileUtil.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace pellora;
using pellora::test::TempDir;

namespace {

constexpr std::int64_t Start = 1796464800; // Sat, 05 Dec 2026 10:00:00 GMT

// A handler's answer as the web server gets it, split again into its parts.
struct Reply {
    int Status = 0;
    std::string Headers; // the raw header lines, as the client's parsers read them
    std::string Body;
};

Reply Split(const std::string& out) {
    Reply reply;
    std::size_t end = out.find("\r\n\r\n");
    EXPECT_NE(end, std::string::npos) << out;
    if (end == std::string::npos)
        return reply;
    reply.Headers = out.substr(0, end + 2);
    reply.Body = out.substr(end + 4);
    EXPECT_EQ(reply.Headers.rfind("Status: ", 0), 0u) << out;
    reply.Status = std::atoi(reply.Headers.c_str() + 8);
    return reply;
}

std::optional<std::string> HeaderValue(const Reply& reply, const std::string& name) {
    std::optional<std::string> line = FindHeaderLine(reply.Headers, name + ": ");
    if (!line || line->rfind(name + ": ", 0) != 0)
        return std::nullopt;
    return line->substr(name.size() + 2);
}

class ExchangeCgiTest : public ::testing::Test {
protected:
    ExchangeCgiTest()
        : Path(Dir / "exchange.db"),
          Store(Path, TSqliteStore::TOpenMode::Create, [this] { return Clock; }) {
        Store.Import("EN", {"|NEW|1|1|||Am I dreaming?", "|NEW|2|2|||Water the plants."});
    }

    Reply Retrieve(const std::string& query, std::optional<std::string> since = std::nullopt,
                   const std::string& method = "GET") {
        return Split(
            FormatCgiResponse(Handle(HandleRetrieve, {method, query, "", since, "192.0.2.1"})));
    }
    Reply Edit(const std::string& method, const std::string& query, const std::string& body) {
        return Split(FormatCgiResponse(Handle(HandleEdit, {method, query, body, {}, "192.0.2.1"})));
    }
    TCgiResponse Handle(TCgiHandler handler, const TCgiRequest& request) {
        return Serve(
            handler, [&] { return request; }, [&]() -> TExchangeStore& { return Store; });
    }
    std::int32_t AccessId() {
        Reply reply = Edit("GET", "action=request_access", "");
        EXPECT_EQ(reply.Status, 200);
        auto header = GetExchangeHeader(reply.Headers);
        EXPECT_TRUE(header.has_value()) << reply.Headers;
        auto id = header ? ParseAccessId(*header) : std::nullopt;
        EXPECT_TRUE(id.has_value()) << *header;
        return id.value_or(0);
    }
    Reply Upload(std::int32_t access, const std::vector<std::string>& lines,
                 const std::string& code = "EN") {
        return Edit("POST", "", TPellPost().BuildPostData(code, access, lines));
    }

    TempDir Dir;
    std::int64_t Clock = Start;
    std::string Path;
    TSqliteStore Store;
};

} // namespace

TEST_F(ExchangeCgiTest, DownloadGivesTheLibraryWithItsLastModified) {
    Clock = Start + 5;
    Reply reply = Retrieve("file=messages&langcode=en");
    EXPECT_EQ(reply.Status, 200);
    EXPECT_EQ(GetLastModifiedHeader(reply.Headers), "Sat, 05 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(HeaderValue(reply, "Cache-Control"), "no-cache");
    std::vector<std::string> lines = SplitTextLines(reply.Body);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(reply.Body.substr(reply.Body.size() - 2), "\r\n");
    for (const std::string& line : lines) {
        TMsgRecord record;
        ASSERT_TRUE(ParseMsgRecord(line, record)) << line;
        EXPECT_FALSE(record.Stamp.empty());
        EXPECT_GT(record.ServerId, 0);
    }
    EXPECT_EQ(Retrieve("langcode=EN&file=messages").Body, reply.Body);
}

TEST_F(ExchangeCgiTest, DownloadAnswers304UnlessTheLibraryIsNewer) {
    Clock = Start + 3600;
    const std::string lastModified = "Sat, 05 Dec 2026 10:00:00 GMT";
    Reply same = Retrieve("file=messages&langcode=en", lastModified);
    EXPECT_EQ(same.Status, 304);
    EXPECT_TRUE(same.Body.empty());
    EXPECT_EQ(GetLastModifiedHeader(same.Headers), lastModified);
    EXPECT_EQ(Retrieve("file=messages&langcode=en", "Sat, 05 Dec 2026 10:30:00 GMT").Status, 304);

    for (const char* since : {"Sat, 05 Dec 2026 09:59:59 GMT", "garbage", "",
                              // later than the server's own clock: cannot be one of its dates
                              "Sat, 05 Dec 2026 11:00:01 GMT"}) {
        Reply full = Retrieve("file=messages&langcode=en", std::string(since));
        EXPECT_EQ(full.Status, 200) << since;
        EXPECT_EQ(SplitTextLines(full.Body).size(), 2u) << since;
    }
    // A change after the client's copy is seen at once.
    Store.Import("EN", {"|NEW|3|3|||Breathe."});
    EXPECT_EQ(Retrieve("file=messages&langcode=en", lastModified).Status, 200);
}

TEST_F(ExchangeCgiTest, DownloadOfAnUnknownLanguageIsEmpty) {
    Reply reply = Retrieve("file=messages&langcode=nl", "Sat, 05 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(reply.Status, 200);
    EXPECT_TRUE(reply.Body.empty());
    EXPECT_FALSE(GetLastModifiedHeader(reply.Headers).has_value());
}

TEST_F(ExchangeCgiTest, MalformedDownloadsAreRefused) {
    for (const char* query :
         {"", "file=messages", "langcode=en", "file=skins&langcode=en",
          "file=messages&langcode=", "file=messages&langcode=eng", "file=messages&langcode=e%",
          "file=messages&langcode=en&langcode=de", "file=messages&langcode=%00%00"}) {
        Reply reply = Retrieve(query);
        EXPECT_EQ(reply.Status, 400) << query;
        EXPECT_FALSE(reply.Body.empty()) << query;
        EXPECT_FALSE(GetLastModifiedHeader(reply.Headers).has_value()) << query;
    }
    Reply post = Retrieve("file=messages&langcode=en", std::nullopt, "POST");
    EXPECT_EQ(post.Status, 405);
    EXPECT_EQ(HeaderValue(post, "Allow"), "GET");
    EXPECT_EQ(Retrieve("file=messages&langcode=en", std::nullopt, "HEAD").Status, 200);
}

TEST_F(ExchangeCgiTest, UploadAnswersCountsAndSynchronisedLines) {
    std::int32_t access = AccessId();
    Reply post = Edit("POST", "", "action=request_access");
    EXPECT_EQ(post.Status, 200);
    EXPECT_EQ(HeaderValue(post, "Cache-Control"), "no-store");
    Reply reply = Upload(access, {"NEW|3||-5|Be here", "NEW|1||-6|Look at your hands."});
    EXPECT_EQ(reply.Status, 200);
    auto header = GetExchangeHeader(reply.Headers);
    ASSERT_TRUE(header.has_value());
    auto counts = ParseUploadCounts(*header);
    ASSERT_TRUE(counts.has_value()) << *header;
    EXPECT_EQ(counts->New, 2);
    EXPECT_EQ(counts->Accepted, 2);
    EXPECT_EQ(counts->Appended, 2);
    std::vector<std::string> lines = SplitTextLines(reply.Body);
    ASSERT_EQ(lines.size(), 2u);
    // The answered lines no longer form a pending block at the client.
    std::size_t start = 0;
    EXPECT_FALSE(FindPendingStart(lines, start));
    TMsgRecord first;
    ASSERT_TRUE(ParseMsgRecord(lines[0], first));
    EXPECT_EQ(first.OwnId, -5);
    EXPECT_EQ(first.Group, 3);
    EXPECT_EQ(first.Text, "Be here");

    // Its change goes through with the id it was given.
    Reply change = Upload(access, {"MOD|3|" + std::to_string(first.ServerId) + "|-5|Be here now"});
    EXPECT_EQ(HeaderValue(change, "Pellora"), "new=0 accepted=1 appended=1");
    TMsgRecord changed;
    ASSERT_TRUE(ParseMsgRecord(SplitTextLines(change.Body).at(0), changed));
    EXPECT_EQ(changed.ServerId, first.ServerId);
    EXPECT_EQ(changed.Action, TMsgAction::Mod);
    EXPECT_EQ(Store.Pending().size(), 3u);
}

TEST_F(ExchangeCgiTest, BadUploadsAreRefusedAndStoreNothing) {
    std::int32_t access = AccessId();
    const std::string good = "&file=messages&langcode=en&messages=NEW%7C1%7C%7C-1%7Cx";
    struct Case {
        std::string Method, Body;
        int Status;
    };
    for (const Case& c : {
             Case{"POST", TPellPost().BuildPostData("EN", 0, {"NEW|1||-1|x"}), 400},
             Case{"POST", TPellPost().BuildPostData("EN", -3, {"NEW|1||-1|x"}), 400},
             Case{"POST", "action=add_deltas&access_id=abc" + good, 400},
             Case{"POST", "action=add_deltas&access_id=99999999999999999999" + good, 400},
             // The id must be the number alone: no byte after it is dropped.
             Case{"POST", "action=add_deltas&access_id=" + std::to_string(access) + "%00" + good,
                  400},
             Case{"POST", "action=add_deltas&access_id=+" + std::to_string(access) + good, 400},
             Case{"POST", TPellPost().BuildPostData("EN", access, {"NEW|1||-1|A|B"}), 400},
             Case{"POST", TPellPost().BuildPostData("EN", access, {"NEW|1||-1|"}), 400},
             Case{"POST", TPellPost().BuildPostData("EN", access, {"NEW|1||-1|\x1b]0;owned\x07"}),
                  400},
             Case{"POST", TPellPost().BuildPostData("EN", access, {"NEW|1||-1|caf\xe9"}), 400},
             Case{"POST", "action=add_deltas&a=1&b=2&c=3&d=4&e=5&f=6" + good, 400},
             Case{"POST", "action=add_deltas&access_id=" + std::to_string(access), 400},
             Case{
                 "POST",
                 TPellPost().BuildPostData("EN", access, {"NEW|1||-1|fine", "NEW|7||-2|bad group"}),
                 400},
             Case{"POST", TPellPost().BuildPostData("E1", access, {"NEW|1||-1|x"}), 400},
             Case{"POST",
                  "action=add_deltas&access_id=1&access_id=" + std::to_string(access) + good, 400},
             Case{"POST", "action=drop_tables" + good, 400},
             Case{"POST", "", 400},
             Case{"GET", "action=add_deltas&access_id=" + std::to_string(access) + good, 405},
             Case{"PUT", "action=request_access", 405},
             Case{"GET", "action=request_access&x=1&y=2&z=3&w=4&v=5", 400},
             Case{"HEAD", "action=request_access", 405},
         }) {
        Reply reply = c.Method == "GET" ? Edit("GET", c.Body, "") : Edit(c.Method, "", c.Body);
        EXPECT_EQ(reply.Status, c.Status) << c.Method << " " << c.Body;
        EXPECT_EQ(HeaderValue(reply, "X-Content-Type-Options"), "nosniff") << c.Body;
        EXPECT_FALSE(GetExchangeHeader(reply.Headers).has_value()) << c.Body;
    }
    // Unknown ids are refused as changes of someone else's message are: nothing stored, and
    // nothing said about which it was.
    std::string refusal;
    for (const std::string& body :
         {TPellPost().BuildPostData("EN", access + 100, {"NEW|1||-1|x"}),
          "action=add_deltas&access_id=99999999999" + good,
          TPellPost().BuildPostData("EN", access, {"MOD|1|1|-1|Not mine"})}) {
        Reply reply = Edit("POST", "", body);
        EXPECT_EQ(reply.Status, 200) << body;
        EXPECT_EQ(HeaderValue(reply, "Pellora"), "new=0 accepted=1 appended=0") << body;
        EXPECT_TRUE(reply.Body.empty()) << body;
        auto why = HeaderValue(reply, "Pellora-Refused");
        ASSERT_TRUE(why.has_value()) << body;
        if (refusal.empty())
            refusal = *why;
        EXPECT_EQ(*why, refusal);
    }
    EXPECT_TRUE(Store.Pending().empty());
}

TEST_F(ExchangeCgiTest, OlderClientsGetNarrowIdsWithAGetNewerOnesWideIdsWithAPost) {
    auto idOf = [](const Reply& reply) -> TAccessId {
        auto header = GetExchangeHeader(reply.Headers);
        auto value = GetTagAttribute(SplitTagAttributes(header.value_or("")), "access_id");
        return value ? std::stoll(*value) : 0;
    };
    Reply narrow = Edit("GET", "action=request_access", "");
    EXPECT_GT(idOf(narrow), 0);
    EXPECT_LT(idOf(narrow), FirstWideAccessId);
    EXPECT_GE(idOf(Edit("POST", "", "action=request_access")), FirstWideAccessId);
    // Once every client asks with a POST, a GET changes nothing any more.
    TExchangeLimits limits = Store.Limits();
    limits.NarrowAccessIds = 0;
    Store.SetLimits(limits);
    Reply refused = Edit("GET", "action=request_access", "");
    EXPECT_EQ(refused.Status, 405);
    EXPECT_EQ(HeaderValue(refused, "Allow"), "POST");
    EXPECT_EQ(idOf(refused), 0);
}

TEST(ExchangeCgiFormat, HeaderValuesStayOnOneLine) {
    TCgiResponse response;
    response.Headers.emplace_back("Pellora-Refused", "a\r\nSet-Cookie: b");
    response.Body = "x";
    EXPECT_EQ(FormatCgiResponse(response), "Status: 200 OK\r\nX-Content-Type-Options: "
                                           "nosniff\r\nPellora-Refused: a  Set-Cookie: b\r\n\r\nx");
}

TEST(ExchangeCgiFormat, ClientsAreCountedByAddressOrIpv6Network) {
    EXPECT_EQ(ClientAddress("192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(ClientAddress("2001:db8:a:b:1:2:3:4"), "2001:db8:a:b::/64");
    EXPECT_EQ(ClientAddress("2001:db8:a:b::9"), "2001:db8:a:b::/64");
    EXPECT_EQ(ClientAddress("::ffff:192.0.2.7"), "192.0.2.7");
    EXPECT_EQ(ClientAddress(""), "unknown");
}

// The built programs, started as a web server starts them.
class CgiProgramTest : public ::testing::Test {
protected:
    CgiProgramTest() : Path(Dir / "exchange.db") {
        TSqliteStore(Path, TSqliteStore::TOpenMode::Create);
    }
    test::ProgramResult Run(const std::string& name, std::map<std::string, std::string> env,
                            const std::string& input = "") {
        env.emplace("PELLORA_EXCHANGE_DB", Path);
        env.emplace("GATEWAY_INTERFACE", "CGI/1.1");
        return test::RunProgram(test::CgiProgram(name), {}, env, input);
    }

    TempDir Dir;
    std::string Path;
};

TEST_F(CgiProgramTest, EditReadsTheBodyOfContentLength) {
    test::ProgramResult access =
        Run("edit.cgi", {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", "action=request_access"}});
    EXPECT_EQ(access.ExitStatus, 0);
    auto id = ParseAccessId(GetExchangeHeader(access.Out).value_or(""));
    ASSERT_TRUE(id.has_value()) << access.Out << access.Err;

    const std::string body = TPellPost().BuildPostData("EN", *id, {"NEW|2||-1|Stretch."});
    // Whatever follows the announced length is not part of the request.
    test::ProgramResult upload = Run("edit.cgi",
                                     {{"REQUEST_METHOD", "POST"},
                                      {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                                      {"CONTENT_LENGTH", std::to_string(body.size())}},
                                     body + "%0D%0ANEW%7C9");
    Reply reply = Split(upload.Out);
    EXPECT_EQ(reply.Status, 200) << upload.Out;
    EXPECT_EQ(FindHeaderLine(reply.Headers, "Pellora:"), "Pellora: new=1 accepted=1 appended=1");
    EXPECT_EQ(TSqliteStore(Path).Pending().size(), 1u);
}

TEST_F(CgiProgramTest, EditRefusesBodiesItCannotTrust) {
    const std::string body = "action=request_access";
    struct Case {
        const char* Length;
        int Status;
    };
    for (const Case& c :
         {Case{nullptr, 411}, Case{"", 411}, Case{"12x", 400}, Case{"-1", 400}, Case{"99", 400},
          Case{"99999999999999999999999", 413}, Case{"4194305", 413}}) {
        std::map<std::string, std::string> env = {{"REQUEST_METHOD", "POST"}};
        if (c.Length)
            env["CONTENT_LENGTH"] = c.Length;
        test::ProgramResult result = Run("edit.cgi", env, body);
        EXPECT_EQ(result.ExitStatus, 0);
        Reply reply = Split(result.Out);
        EXPECT_EQ(reply.Status, c.Status) << (c.Length ? c.Length : "no length");
        EXPECT_FALSE(GetExchangeHeader(reply.Headers).has_value());
    }
}

TEST_F(CgiProgramTest, MissingDatabaseIsAServerErrorAndStaysMissing) {
    const std::string missing = Dir / "nowhere/exchange.db";
    test::ProgramResult result = test::RunProgram(test::CgiProgram("edit.cgi"), {},
                                                  {{"REQUEST_METHOD", "GET"},
                                                   {"QUERY_STRING", "action=request_access"},
                                                   {"PELLORA_EXCHANGE_DB", missing}});
    EXPECT_EQ(result.ExitStatus, 0);
    Reply reply = Split(result.Out);
    EXPECT_EQ(reply.Status, 500);
    EXPECT_FALSE(GetExchangeHeader(reply.Headers).has_value());
    EXPECT_NE(result.Err.find(missing), std::string::npos) << result.Err;
    EXPECT_EQ(reply.Body.find(missing), std::string::npos); // paths are for the log only
    EXPECT_FALSE(PathExists(missing));
}
