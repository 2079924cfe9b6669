#include "NetTestServers.h"
#include "net/uAdvHttp.h"
#include "support/FreePort.h"
#include "support/ScopedEnv.h"

#include <gtest/gtest.h>

namespace pellora {
namespace {

using test::HttpTestServer;

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class AdvHttpRequest : public ::testing::Test {
protected:
    HttpTestServer Server;
    TAdvHttp Http;
};

TEST_F(AdvHttpRequest, StatusRawHeadersAndBody) {
    Server.SetReply("Status: 203 Fine\r\nPellora: access_id=17\r\nLast-Modified: Sat, 05 Dec "
                    "2026 10:00:00 GMT\r\nContent-Type: text/plain",
                    "NEW|1|5||One\r\nNEW|1|6||Two\r\n");
    Http.SetURL(Server.Url("cgi-bin/reply"));
    EXPECT_TRUE(Http.Execute());
    EXPECT_EQ(Http.LastError(), 0);
    EXPECT_EQ(Http.StatusCode(), 203);
    ASSERT_FALSE(Http.ResponseHeaders().empty());
    EXPECT_EQ(Http.ResponseHeaders().front().rfind("HTTP/1.1 203 ", 0), 0u);
    EXPECT_TRUE(HasLine(Http.ResponseHeaders(), "Pellora: access_id=17"));
    EXPECT_TRUE(HasLine(Http.ResponseHeaders(), "Last-Modified: Sat, 05 Dec 2026 10:00:00 GMT"));
    EXPECT_FALSE(HasLine(Http.ResponseHeaders(), ""));
    EXPECT_EQ(Http.Text(), "NEW|1|5||One\r\nNEW|1|6||Two\r\n");
    EXPECT_FALSE(Http.Busy());

    // Text reads only up to a NUL byte; a new request starts with an empty body.
    Server.SetReply("Status: 200 OK", std::string("before\0after", 12));
    EXPECT_TRUE(Http.Execute());
    EXPECT_EQ(Http.Text(), "before");
    EXPECT_EQ(Http.TotalBytesRead(), 12u);

    Server.SetReply("Status: 404 Not Found", "gone");
    EXPECT_TRUE(Http.Execute());
    EXPECT_EQ(Http.StatusCode(), 404);
    EXPECT_EQ(Http.LastError(), 0);
    EXPECT_EQ(Http.Text(), "gone");
}

TEST_F(AdvHttpRequest, HeaderBlockMethodBodyAndAcceptTypes) {
    Http.SetURL(Server.Url("cgi-bin/echo?x=1"));
    Http.SetUserAgent("Pellora 3");
    Http.SetRequestHeaders({"X-One: 1", "X-Two: two", "X-Three: 3\r\nX-Four: 4"});
    Http.SetAcceptTypes({"text/plain", "text/html", "", "ignored/after-empty"});
    Http.SetMethod("POST");
    Http.SetText("a=1&b=2");
    ASSERT_TRUE(Http.Execute());
    std::string echo = Http.Text();
    EXPECT_NE(echo.find("METHOD=POST\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("QUERY=x=1\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("HTTP_X_ONE=1\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("HTTP_X_TWO=two\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("HTTP_X_THREE=3\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("HTTP_X_FOUR=4\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("HTTP_ACCEPT=text/plain, text/html\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("HTTP_USER_AGENT=Pellora 3\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("CONTENT_LENGTH=7\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("BODY=a=1&b=2"), std::string::npos) << echo;
    EXPECT_EQ(echo.find("HTTP_EXPECT"), std::string::npos) << echo;
    // ifReload is among the default flags: caches on the way must ask the server again.
    EXPECT_NE(echo.find("HTTP_CACHE_CONTROL=no-cache\n"), std::string::npos) << echo;
    EXPECT_NE(echo.find("HTTP_PRAGMA=no-cache\n"), std::string::npos) << echo;

    Http.SetRequestHeaders({});
    Http.SetAcceptTypes({});
    Http.SetMethod("GET");
    Http.SetText("");
    Http.SetInternetFlags({TInternetFlag::ifKeepConnection});
    ASSERT_TRUE(Http.Execute());
    echo = Http.Text();
    EXPECT_NE(echo.find("METHOD=GET\n"), std::string::npos) << echo;
    EXPECT_EQ(echo.find("HTTP_X_"), std::string::npos) << echo;
    EXPECT_EQ(echo.find("HTTP_CACHE_CONTROL"), std::string::npos) << echo;
    EXPECT_EQ(echo.find("HTTP_PRAGMA"), std::string::npos) << echo;
    Http.SetInternetFlags({TInternetFlag::ifPragmaNoCache});
    ASSERT_TRUE(Http.Execute());
    EXPECT_NE(Http.Text().find("HTTP_PRAGMA=no-cache\n"), std::string::npos) << Http.Text();
}

TEST_F(AdvHttpRequest, CredentialsLoopGivesUpWith12017) {
    Http.SetURL(Server.Url("secret/data.txt"));
    Http.SetDefaultUi(false);
    int needAuth = 0, errors = 0, complete = 0;
    Http.OnNeedAuth = [&](TAdvHttp&) { ++needAuth; };
    Http.OnError = [&](TAdvHttp&) { ++errors; };
    Http.OnRequestComplete = [&](TAdvHttp&) { ++complete; };
    EXPECT_TRUE(Http.Execute());
    EXPECT_EQ(Http.LastError(), inet::OperationCancelled);
    EXPECT_EQ(Http.StatusCode(), 401);
    EXPECT_EQ(Http.Text(), "");
    EXPECT_TRUE(Http.ResponseHeaders().empty());
    EXPECT_EQ(needAuth, 4);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(complete, 0);
    EXPECT_FALSE(Http.Busy());
    EXPECT_EQ(Server.Server().WaitForRequests("GET /secret/data.txt", 4), 4);

    // Without a dialog to ask, the first refusal ends the request.
    Http.SetDefaultUi(true);
    Http.CredentialsDialog = nullptr;
    EXPECT_TRUE(Http.Execute());
    EXPECT_EQ(Http.LastError(), inet::OperationCancelled);
    EXPECT_EQ(Server.Server().WaitForRequests("GET /secret/data.txt", 5), 5);
}

TEST_F(AdvHttpRequest, CredentialsFromTheDialogAreAskedForOnce) {
    Http.SetURL(Server.Url("secret/data.txt"));
    int asked = 0;
    Http.CredentialsDialog = [&](TAdvHttp&, bool forProxy, std::string& user,
                                 std::string& password) {
        EXPECT_FALSE(forProxy);
        ++asked;
        user = "ann";
        password = "pw1";
        return true;
    };
    EXPECT_TRUE(Http.Execute());
    EXPECT_EQ(Http.LastError(), 0);
    EXPECT_EQ(Http.StatusCode(), 200);
    EXPECT_EQ(Http.Text(), "hidden");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(Http.UserName(), "ann");
    // The next request to the server sends them at once.
    EXPECT_TRUE(Http.Execute());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(Server.Server().WaitForRequests("GET /secret/data.txt", 3), 3);
    EXPECT_EQ(Server.Server().CountRequests("GET /secret/data.txt HTTP/1.1\" 401"), 1);
}

TEST_F(AdvHttpRequest, CredentialsInTheUrlGoWithTheFirstRequestAndOnlyToTheirServer) {
    Http.SetDefaultUi(false);
    std::string url = Server.Url("secret/data.txt");
    Http.SetURL(url.replace(url.find("127.0.0.1"), 0, "ann:pw1@"));
    EXPECT_TRUE(Http.Execute());
    EXPECT_EQ(Http.StatusCode(), 200);
    EXPECT_EQ(Http.Text(), "hidden");
    EXPECT_EQ(Server.Server().WaitForRequests("GET /secret/data.txt", 1), 1);
    EXPECT_EQ(Server.Server().CountRequests("\" 401"), 0);

    // Another server (another port) never sees them, though they stay set.
    HttpTestServer other;
    Http.SetURL(other.Url("secret/data.txt"));
    EXPECT_EQ(Http.UserName(), "ann");
    Http.SetAuthRetries(0);
    EXPECT_TRUE(Http.Execute());
    EXPECT_EQ(Http.StatusCode(), 401);
    EXPECT_EQ(Http.LastError(), inet::OperationCancelled);
    EXPECT_EQ(other.Server().WaitForRequests("GET /secret/data.txt HTTP/1.1\" 401", 1), 1);
}

TEST_F(AdvHttpRequest, RedirectsAreFollowedUnlessTurnedOff) {
    Server.SetReply("Status: 302 Found\r\nLocation: /index.html", "");
    Http.SetURL(Server.Url("cgi-bin/reply"));
    int redirects = 0;
    Http.OnRedirect = [&](TAdvHttp&) { ++redirects; };
    ASSERT_TRUE(Http.Execute());
    EXPECT_EQ(Http.StatusCode(), 200);
    EXPECT_EQ(Http.Text(), "index");
    EXPECT_EQ(redirects, 1);
    EXPECT_EQ(Http.RedirectUrl(), Server.Url("index.html"));

    TInternetFlags flags = Http.InternetFlags();
    flags.Include(TInternetFlag::ifNoAutoRedirect);
    Http.SetInternetFlags(flags);
    ASSERT_TRUE(Http.Execute());
    EXPECT_EQ(Http.StatusCode(), 302);
    EXPECT_EQ(redirects, 1);
}

TEST_F(AdvHttpRequest, TransportFailuresRaiseOrReturnFalse) {
    int closedPort = test::FreePort();
    Http.SetURL("http://127.0.0.1:" + std::to_string(closedPort) + "/");
    int errors = 0;
    Http.OnError = [&](TAdvHttp&) { ++errors; };
    try {
        Http.Execute();
        FAIL() << "no error for a closed port";
    } catch (const EInetError& error) {
        EXPECT_STREQ(error.what(), "A connection with the server could not be established");
    }
    EXPECT_EQ(Http.LastError(), inet::CannotConnect);
    EXPECT_EQ(errors, 1);
    EXPECT_FALSE(Http.Busy());

    Http.SetRaiseExceptions(false);
    EXPECT_FALSE(Http.Execute());
    EXPECT_EQ(Http.LastError(), inet::CannotConnect);
    EXPECT_EQ(errors, 2);

    // The same component works again afterwards.
    Http.SetURL(Server.Url("index.html"));
    EXPECT_TRUE(Http.Execute());
    EXPECT_EQ(Http.Text(), "index");
}

TEST_F(AdvHttpRequest, StalledTransferEndsWithTimeOut) {
    test::SilentListener silent;
    Http.SetURL("http://127.0.0.1:" + std::to_string(silent.Port()) + "/");
    Http.SetStallTimeout(300);
    try {
        Http.Execute();
        FAIL() << "a silent server held the request";
    } catch (const EInetError& error) {
        EXPECT_STREQ(error.what(), "The operation timed out");
    }
    EXPECT_EQ(Http.LastError(), inet::Timeout);
}

TEST_F(AdvHttpRequest, OversizedBodyIsRefused) {
    Http.SetMaxResponseBytes(50000);
    Http.SetURL(Server.Url("cgi-bin/big?50000"));
    ASSERT_TRUE(Http.Execute());
    EXPECT_EQ(Http.Text(), std::string(50000, 'x'));

    // The reason names the size; a file with a known length is refused before its body is read.
    struct Case {
        const char* Path;
        std::size_t Limit;
        const char* Told;
    };
    for (const Case& c :
         {Case{"cgi-bin/big?50001", 50000, "50000 bytes"}, Case{"index.html", 3, "3 bytes"},
          Case{"cgi-bin/big?1048577", 1048576, "1 MB"}}) {
        Http.SetURL(Server.Url(c.Path));
        Http.SetMaxResponseBytes(c.Limit);
        try {
            Http.Execute();
            ADD_FAILURE() << c.Path << " was taken";
        } catch (const EInetError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("The reply is larger than ") + c.Told +
                                                 ", more than the program takes");
        }
        EXPECT_EQ(Http.LastError(), inet::InvalidServerResponse);
        EXPECT_EQ(Http.Text(), "");
    }
}

TEST_F(AdvHttpRequest, ProxyIsUsedOnlyWhileSet) {
    test::Tinyproxy proxy;
    test::ScopedEnv env;
    // A proxy in the environment must not be picked up when none is set.
    env.Set("http_proxy", "http://" + proxy.Address());
    env.Set("HTTP_PROXY", "http://" + proxy.Address());
    env.Set("no_proxy", nullptr);
    env.Set("NO_PROXY", nullptr);

    Http.SetURL(Server.Url("cgi-bin/echo"));
    Http.SetProxy(proxy.Address());
    ASSERT_TRUE(Http.Execute());
    EXPECT_NE(Http.Text().find("HTTP_VIA="), std::string::npos) << Http.Text();
    EXPECT_EQ(proxy.CountRequests("/cgi-bin/echo"), 1);

    Http.SetProxy("");
    ASSERT_TRUE(Http.Execute());
    EXPECT_EQ(Http.Text().find("HTTP_VIA="), std::string::npos) << Http.Text();
    EXPECT_EQ(proxy.CountRequests("/cgi-bin/echo"), 1);

    // Scheme-specific lists pick the entry for the request's scheme.
    Http.SetProxy("https=127.0.0.1:1 http=" + proxy.Address());
    ASSERT_TRUE(Http.Execute());
    EXPECT_EQ(proxy.CountRequests("/cgi-bin/echo"), 2);
}

TEST_F(AdvHttpRequest, ProxyCredentialsCountForTheRequestUnderWay) {
    test::Tinyproxy proxy("pat", "secret");
    Http.SetURL(Server.Url("index.html"));
    Http.SetProxy(proxy.Address());
    Http.SetDefaultUi(false);
    // Set before the request, they do not count: the proxy refuses every try.
    Http.SetProxyUserName("pat");
    Http.SetProxyPassword("secret");
    int needProxyAuth = 0;
    Http.OnNeedProxyAuth = [&](TAdvHttp&) { ++needProxyAuth; };
    EXPECT_TRUE(Http.Execute());
    EXPECT_EQ(Http.StatusCode(), 407);
    EXPECT_EQ(Http.LastError(), inet::OperationCancelled);
    EXPECT_EQ(needProxyAuth, 4);

    Http.OnNeedProxyAuth = [&](TAdvHttp& sender) {
        ++needProxyAuth;
        sender.SetProxyUserName("pat");
        sender.SetProxyPassword("secret");
    };
    EXPECT_TRUE(Http.Execute());
    EXPECT_EQ(Http.LastError(), 0);
    EXPECT_EQ(Http.StatusCode(), 200);
    EXPECT_EQ(Http.Text(), "index");
    EXPECT_EQ(needProxyAuth, 5);
}

} // namespace
} // namespace pellora
