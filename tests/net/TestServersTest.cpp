#include "support/FreePort.h"
#include "support/Lighttpd.h"
#include "support/TempDir.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

namespace pellora::test {
namespace {

struct Fetched {
    long Status = 0;
    std::string Body;
};

size_t Collect(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

// A plain libcurl fetch, independent of the client under test.
Fetched Fetch(const std::string& url, const char* userPassword = nullptr) {
    Fetched result;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.Body);
    if (userPassword)
        curl_easy_setopt(curl, CURLOPT_USERPWD, userPassword);
    if (curl_easy_perform(curl) == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.Status);
    curl_easy_cleanup(curl);
    return result;
}

TEST(TestLighttpd, ServesFilesCgiAndAuthAndStops) {
    TempDir dir;
    PutFile(dir / "doc/index.html", "front page");
    PutFile(dir / "doc/secret/data.txt", "hidden");
    PutProgram(dir / "cgi/status", "#!/bin/sh\nprintf 'Status: 202 Accepted\\r\\n"
                                   "Content-Type: text/plain\\r\\n\\r\\n%s' \"$PELLORA_MARK\"\n");
    LighttpdOptions options;
    options.DocumentRoot = dir / "doc";
    options.CgiPrefix = "/cgi-bin/";
    options.CgiFolder = dir / "cgi";
    options.CgiEnvironment["PELLORA_MARK"] = "marked";
    options.AuthPrefix = "/secret/";
    options.AuthUsers = {{"ann", "pw1"}};
    int port = 0;
    {
        Lighttpd server(options);
        port = server.Port();
        EXPECT_EQ(server.BaseUrl(), "http://127.0.0.1:" + std::to_string(port) + "/");

        Fetched page = Fetch(server.Url("/"));
        EXPECT_EQ(page.Status, 200);
        EXPECT_EQ(page.Body, "front page");

        Fetched cgi = Fetch(server.Url("cgi-bin/status"));
        EXPECT_EQ(cgi.Status, 202);
        EXPECT_EQ(cgi.Body, "marked");

        EXPECT_EQ(Fetch(server.Url("secret/data.txt")).Status, 401);
        EXPECT_EQ(Fetch(server.Url("secret/data.txt"), "ann:wrong").Status, 401);
        Fetched allowed = Fetch(server.Url("secret/data.txt"), "ann:pw1");
        EXPECT_EQ(allowed.Status, 200);
        EXPECT_EQ(allowed.Body, "hidden");

        // Each request is in the access log as soon as it is answered.
        EXPECT_EQ(server.WaitForRequests("GET /secret/data.txt", 3), 3);
        EXPECT_EQ(server.CountRequests("GET /cgi-bin/status"), 1);
    }
    EXPECT_FALSE(PortAccepts(port));
}

TEST(TestLighttpd, BadConfigurationFailsWithTheServersWords) {
    TempDir dir;
    LighttpdOptions options;
    options.DocumentRoot = dir.Path();
    options.ExtraConfig = "no.such-option = 1 +";
    try {
        Lighttpd server(options);
        FAIL() << "started with a broken configuration";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("lighttpd did not start"), std::string::npos);
    }
}

} // namespace
} // namespace pellora::test
