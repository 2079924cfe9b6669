#include "ExchangeStore.h"
#include "NetTestServers.h"
#include "core/MsgRecord.h"
#include "core/Settings.h"
#include "net/NetSync.h"
#include "net/PellNet.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "support/FreePort.h"

#include <gtest/gtest.h>

namespace pellora {
namespace {

using test::GetFile;
using test::PutFile;
using test::PutProgram;
using test::TempDir;

// A module with its own preferences file and log folder.
class NetModuleTest : public ::testing::Test {
protected:
    NetModuleTest() : Prefs(Dir / "prefs.ini") {}

    void SetBase(const std::string& base) {
        IniFile(Dir / "prefs.ini").WriteString("Internet", "Pellora Exchange", base);
    }
    std::string Log(const std::string& name) { return GetFile(Dir / "logs/" + name + ".log"); }
    bool HasLog(const std::string& name) { return FileExists(Dir / "logs/" + name + ".log"); }

    TempDir Dir;
    IniFile Prefs;
    TNetModule Module{Dir / "prefs.ini", Dir / "logs"};
};

// The exchange server's CGI programs over a database holding the shipped English library.
class RealExchange : public NetModuleTest {
protected:
    RealExchange() {
        ForceDirectories(Dir / "db");
        TSqliteStore store(Dir / "db/exchange.db", TSqliteStore::TOpenMode::Create);
        store.Import("EN", ReadTextLines(std::string(PELLORA_SOURCE_DIR) +
                                         "/share/pellora/Local/EN/Messages.cfg"));
        PutFile(Dir / "doc/index.html", "exchange");
        test::LighttpdOptions options;
        options.DocumentRoot = Dir / "doc";
        options.CgiPrefix = "/cgi-bin/pellora/";
        options.CgiFolder = std::string(PELLORA_BUILD_DIR) + "/server/cgi-bin/pellora";
        options.CgiEnvironment["PELLORA_EXCHANGE_DB"] = Dir / "db/exchange.db";
        Server = std::make_unique<test::Lighttpd>(options);
        SetBase(Server->Url("cgi-bin/pellora/"));
    }
    std::unique_ptr<test::Lighttpd> Server;
};

// Shell scripts in place of the exchange programs, answering what the test stores for them
// and keeping what they were sent.
class ScriptedExchange : public NetModuleTest {
protected:
    ScriptedExchange() {
        PutFile(Dir / "doc/index.html", "exchange");
        PutProgram(Dir / "cgi/edit.cgi", "#!/bin/sh\n"
                                         "cat > \"$STATE/edit.body\"\n"
                                         "cat \"$STATE/edit.reply\"\n");
        PutProgram(Dir / "cgi/retrieve.cgi",
                   "#!/bin/sh\n"
                   "printf '%s|%s|%s' \"$REQUEST_METHOD\" \"$CONTENT_LENGTH\" "
                   "\"$HTTP_IF_MODIFIED_SINCE\" > \"$STATE/retrieve.request\"\n"
                   "cat \"$STATE/retrieve.reply\"\n");
        SetEdit("Status: 200 OK\r\nPellora: access_id=17", "");
        SetRetrieve("Status: 200 OK", "");
        test::LighttpdOptions options;
        options.DocumentRoot = Dir / "doc";
        options.CgiPrefix = "/cgi-bin/pellora/";
        options.CgiFolder = Dir / "cgi";
        options.CgiEnvironment["STATE"] = Dir.Path();
        Server = std::make_unique<test::Lighttpd>(options);
        SetBase(Server->Url("cgi-bin/pellora/"));
    }
    void SetEdit(const std::string& headers, const std::string& body) {
        PutFile(Dir / "edit.reply", headers + "\r\n\r\n" + body);
    }
    void SetRetrieve(const std::string& headers, const std::string& body) {
        PutFile(Dir / "retrieve.reply", headers + "\r\n\r\n" + body);
    }
    // The access log is written a moment after the reply, so wait (bounded) for the count the
    // test expects before reading it.
    int Requests(const std::string& text, int expected) {
        return Server->WaitForRequests(text, expected);
    }
    std::unique_ptr<test::Lighttpd> Server;
};

constexpr const char* AccessRequest = "GET /cgi-bin/pellora/edit.cgi?action=request_access ";
constexpr const char* EnglishDownload =
    "GET /cgi-bin/pellora/retrieve.cgi?file=messages&langcode=en ";

TEST_F(RealExchange, FirstDownloadGetsAnIdThenOnlyNewsAreAskedFor) {
    std::vector<std::string> lines;
    ASSERT_TRUE(Module.DownloadMessages("EN", lines));
    ASSERT_FALSE(lines.empty());
    TMsgRecord record;
    EXPECT_TRUE(ParseMsgRecord(lines.front(), record)) << lines.front();
    EXPECT_GT(ReadKey(Prefs, keys::AccessId), 0);
    std::string lastModified = Prefs.ReadString("Internet", "Last-Modified for messages-EN", "");
    EXPECT_NE(lastModified, "");
    EXPECT_EQ(Server->WaitForRequests(AccessRequest, 1), 1);
    EXPECT_EQ(Server->WaitForRequests(EnglishDownload, 1), 1);

    // The second download carries the first reply's date and is told nothing changed.
    ASSERT_TRUE(Module.DownloadMessages("EN", lines));
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(Server->WaitForRequests(EnglishDownload + std::string("HTTP/1.1\" 304"), 1), 1);
    EXPECT_EQ(Server->CountRequests(AccessRequest), 1);
    EXPECT_EQ(Prefs.ReadString("Internet", "Last-Modified for messages-EN", ""), lastModified);
    EXPECT_FALSE(HasLog("Download Messages"));
    EXPECT_FALSE(HasLog("Access Request"));
}

TEST_F(RealExchange, UploadIsAnsweredWithStoredLinesAndLogged) {
    std::int32_t accepted = -1, added = -1, appended = -1;
    std::vector<std::string> lines;
    ASSERT_TRUE(Module.UploadMessages("EN", {"NEW|1||-1|Look at your hands.", ""}, accepted, added,
                                      appended, lines));
    EXPECT_EQ(accepted, 1);
    EXPECT_EQ(appended, 1);
    EXPECT_EQ(added, 1);
    ASSERT_EQ(lines.size(), 1u);
    TMsgRecord record;
    ASSERT_TRUE(ParseMsgRecord(lines.front(), record)) << lines.front();
    EXPECT_EQ(record.OwnId, -1);

    std::int32_t access = ReadKey(Prefs, keys::AccessId);
    std::string body = TPellPost().BuildPostData("EN", access, {"NEW|1||-1|Look at your hands."});
    std::vector<std::string> log = SplitTextLines(Log("Upload Messages"));
    ASSERT_GE(log.size(), 10u);
    EXPECT_EQ(log[0], "POST " + Server->Url("cgi-bin/pellora/edit.cgi"));
    EXPECT_EQ(std::vector<std::string>(log.begin() + 1, log.begin() + 9),
              (std::vector<std::string>{"", "Content-Type: application/x-www-form-urlencoded",
                                        "Content-Length: " + std::to_string(body.size()), "", "",
                                        body, "", "HTTP/1.1 200 OK"}));
    EXPECT_NE(std::find(log.begin(), log.end(), "Pellora: new=1 accepted=1 appended=1"), log.end());
}

TEST_F(RealExchange, ProxyPreferenceCountsAtEveryRequest) {
    test::Tinyproxy proxy;
    Prefs.WriteBool("Internet", "Proxy", true);
    Prefs.WriteString("Internet", "Proxy Address", proxy.Address());
    std::vector<std::string> lines;
    ASSERT_TRUE(Module.DownloadMessages("EN", lines));
    EXPECT_EQ(proxy.CountRequests("/cgi-bin/pellora/edit.cgi"), 1);
    EXPECT_EQ(proxy.CountRequests("/cgi-bin/pellora/retrieve.cgi"), 1);

    Prefs.WriteBool("Internet", "Proxy", false);
    ASSERT_TRUE(Module.DownloadMessages("EN", lines));
    EXPECT_EQ(proxy.CountRequests("/cgi-bin/pellora/retrieve.cgi"), 1);
    EXPECT_EQ(Server->WaitForRequests(EnglishDownload, 2), 2);
}

TEST_F(ScriptedExchange, AccessIdMarkerIsCaseSensitiveAndAFailureStopsTheDownload) {
    SetEdit("Status: 200 OK\r\npellora: access_id=17", "");
    std::vector<std::string> lines;
    EXPECT_FALSE(Module.DownloadMessages("EN", lines));
    EXPECT_TRUE(HasLog("Access Request"));
    EXPECT_FALSE(HasLog("Download Messages"));
    EXPECT_EQ(Requests("retrieve.cgi", 0), 0);
    EXPECT_EQ(ReadKey(Prefs, keys::AccessId), 0);
    std::vector<std::string> log = SplitTextLines(Log("Access Request"));
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log[0], "GET " + Server->Url("cgi-bin/pellora/edit.cgi?action=request_access"));
    EXPECT_EQ(log[4], "HTTP/1.1 200 OK");

    SetEdit("Status: 200 OK\r\nPellora: Access_Id=17", "");
    std::int32_t id = 0;
    EXPECT_TRUE(Module.GetAccessId(id));
    EXPECT_EQ(id, 17);
    EXPECT_EQ(ReadKey(Prefs, keys::AccessId), 17);
    // A stored id is used without asking.
    SetEdit("Status: 500 Internal Server Error", "");
    EXPECT_TRUE(Module.GetAccessId(id));
    EXPECT_EQ(id, 17);

    // A wrong status fails even with the header.
    Prefs.WriteInteger("Internet", "Access id", 0);
    SetEdit("Status: 201 Created\r\nPellora: access_id=3", "");
    EXPECT_FALSE(Module.GetAccessId(id));
    SetEdit("Status: 200 OK\r\nPellora: access_id=three", "");
    EXPECT_THROW(Module.GetAccessId(id), EConvertError);
}

TEST_F(ScriptedExchange, DownloadJudgesStatusAndKeepsTheStoredDate) {
    Prefs.WriteInteger("Internet", "Access id", 9);
    Prefs.WriteString("Internet", "Last-Modified for messages-NL", "Sat, 05 Dec 2026 10:00:00 GMT");
    SetRetrieve("Status: 200 OK", "");
    std::vector<std::string> lines{"stale"};
    ASSERT_TRUE(Module.DownloadMessages("NL", lines));
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(GetFile(Dir / "retrieve.request"), "GET|0|Sat, 05 Dec 2026 10:00:00 GMT");
    EXPECT_EQ(Requests("retrieve.cgi?file=messages&langcode=nl ", 1), 1);
    EXPECT_EQ(Prefs.ReadString("Internet", "Last-Modified for messages-NL", ""),
              "Sat, 05 Dec 2026 10:00:00 GMT");

    SetRetrieve("Status: 200 OK\r\nLast-Modified: Sun, 06 Dec 2026 08:00:00 GMT",
                "NEW|1|4|stamp|One\r\nNEW|1|5|stamp|Two");
    ASSERT_TRUE(Module.DownloadMessages("NL", lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"NEW|1|4|stamp|One", "NEW|1|5|stamp|Two"}));
    EXPECT_EQ(Prefs.ReadString("Internet", "Last-Modified for messages-NL", ""),
              "Sun, 06 Dec 2026 08:00:00 GMT");

    SetRetrieve("Status: 304 Not Modified", "");
    ASSERT_TRUE(Module.DownloadMessages("NL", lines));
    EXPECT_TRUE(lines.empty());
    EXPECT_FALSE(HasLog("Download Messages"));

    SetRetrieve("Status: 503 Service Unavailable\r\nLast-Modified: Mon, 07 Dec 2026 08:00:00 GMT",
                "busy");
    EXPECT_FALSE(Module.DownloadMessages("NL", lines));
    EXPECT_TRUE(HasLog("Download Messages"));
    EXPECT_EQ(Prefs.ReadString("Internet", "Last-Modified for messages-NL", ""),
              "Sun, 06 Dec 2026 08:00:00 GMT");
}

TEST_F(ScriptedExchange, UploadNeedsAllThreeCountsAndAlwaysLogs) {
    Prefs.WriteInteger("Internet", "Access id", 5);
    std::int32_t accepted = 0, added = 0, appended = 0;
    std::vector<std::string> lines;
    SetEdit("Status: 200 OK\r\nPellora: new=1 accepted=2", "NEW|1|8|s|x");
    EXPECT_FALSE(Module.UploadMessages("EN", {"NEW|1||-1|x"}, accepted, added, appended, lines));
    EXPECT_TRUE(lines.empty());
    std::string body = TPellPost().BuildPostData("EN", 5, {"NEW|1||-1|x"});
    EXPECT_EQ(GetFile(Dir / "edit.body"), body);
    EXPECT_NE(Log("Upload Messages").find("\r\n" + body + "\r\n"), std::string::npos);

    test::RemoveTree(Dir / "logs");
    SetEdit("Status: 200 OK\r\nPellora: new=1 accepted=2 appended=2", "");
    EXPECT_TRUE(Module.UploadMessages("EN", {"NEW|1||-1|x"}, accepted, added, appended, lines));
    EXPECT_EQ(accepted, 2);
    EXPECT_EQ(added, 1);
    EXPECT_EQ(appended, 2);
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(HasLog("Upload Messages"));

    test::RemoveTree(Dir / "logs");
    SetEdit("Status: 200 OK\r\nPellora: new=x accepted=1 appended=1", "");
    EXPECT_THROW(Module.UploadMessages("EN", {"NEW|1||-1|x"}, accepted, added, appended, lines),
                 EConvertError);
    EXPECT_TRUE(HasLog("Upload Messages"));
}

TEST_F(ScriptedExchange, NothingOfOneRequestLeaksIntoTheNext) {
    Prefs.WriteInteger("Internet", "Access id", 5);
    Prefs.WriteString("Internet", "Last-Modified for messages-EN", "Sat, 05 Dec 2026 10:00:00 GMT");
    std::vector<std::string> lines;
    ASSERT_TRUE(Module.DownloadMessages("EN", lines));
    SetEdit("Status: 200 OK\r\nPellora: new=1 accepted=1 appended=1", "NEW|1|8|s|x");
    std::int32_t accepted = 0, added = 0, appended = 0;
    ASSERT_TRUE(Module.UploadMessages("EN", {"NEW|1||-1|x"}, accepted, added, appended, lines));
    std::vector<std::string> log = SplitTextLines(Log("Upload Messages"));
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log[2], "Content-Type: application/x-www-form-urlencoded");
    EXPECT_EQ(log[4], "");

    // The download after an upload sends neither the form nor its headers.
    Prefs.WriteString("Internet", "Last-Modified for messages-EN", "");
    ASSERT_TRUE(Module.DownloadMessages("EN", lines));
    EXPECT_EQ(GetFile(Dir / "retrieve.request"), "GET|0|");
}

TEST_F(ScriptedExchange, BaseWithoutSlashIsJoinedAsItStands) {
    SetBase(Server->Url("cgi-bin/pellora"));
    std::int32_t id = 0;
    EXPECT_FALSE(Module.GetAccessId(id));
    EXPECT_EQ(Requests("GET /cgi-bin/pelloraedit.cgi?action=request_access ", 1), 1);
    EXPECT_EQ(SplitTextLines(Log("Access Request")).at(0),
              "GET " + Server->Url("cgi-bin/pelloraedit.cgi?action=request_access"));
}

TEST_F(ScriptedExchange, TransportFailureLeavesNoLogAndStoresNothing) {
    SetBase("http://127.0.0.1:" + std::to_string(test::FreePort()) + "/cgi-bin/pellora/");
    std::vector<std::string> lines;
    EXPECT_THROW(Module.DownloadMessages("EN", lines), EInetError);
    EXPECT_FALSE(DirectoryExists(Dir / "logs"));
    EXPECT_EQ(ReadKey(Prefs, keys::AccessId), 0);
}

TEST_F(ScriptedExchange, UnwritableLogDoesNotLoseAnAnsweredUpload) {
    PutFile(Dir / "blocker", "a file where the log folder would go");
    TNetModule module(Dir / "prefs.ini", Dir / "blocker/logs");
    Prefs.WriteInteger("Internet", "Access id", 5);
    SetEdit("Status: 200 OK\r\nPellora: new=1 accepted=1 appended=1", "NEW|1|8|s|x");
    std::int32_t accepted = 0, added = 0, appended = 0;
    std::vector<std::string> lines;
    EXPECT_TRUE(module.UploadMessages("EN", {"NEW|1||-1|x"}, accepted, added, appended, lines));
    EXPECT_EQ(lines, (std::vector<std::string>{"NEW|1|8|s|x"}));
    EXPECT_THROW(module.WriteExchangeLog(module.FHttp, "Upload Messages", "b"), EFileError);
}

TEST(NetModuleSetup, ClientIsPreparedForTheExchange) {
    TempDir dir;
    TNetModule module(dir / "prefs.ini", dir / "logs");
    EXPECT_EQ(module.FHttp.ConnectTimeout(), 15000);
    EXPECT_EQ(module.FHttp.UserAgent(), "Pellora 3");
    EXPECT_EQ(module.FHttp.FlagWord(), 0x8400F710u);
    EXPECT_TRUE(module.FHttp.UseEventWindow());
    EXPECT_TRUE(module.FHttp.DefaultUi());
    EXPECT_EQ(module.FHttp.AuthRetries(), 3);
    EXPECT_EQ(module.GetExchangeUrl(), "http://localhost/cgi-bin/pellora/");
    EXPECT_EQ(module.FHttp.Proxy(), "");
    IniFile(dir / "prefs.ini").WriteBool("Internet", "Proxy", true);
    IniFile(dir / "prefs.ini").WriteString("Internet", "Proxy Address", "127.0.0.1:3128");
    module.ConfigureHttp(module.FHttp);
    EXPECT_EQ(module.FHttp.Proxy(), "127.0.0.1:3128");
    IniFile(dir / "prefs.ini").WriteBool("Internet", "Proxy", false);
    module.ConfigureHttp(module.FHttp);
    EXPECT_EQ(module.FHttp.Proxy(), "");
}

} // namespace
} // namespace pellora
