// pellora-cli download and upload against the real exchange: lighttpd on 127.0.0.1 running
// the server's CGI programs over a database seeded with its admin tool.
#include "core/MsgRecord.h"
#include "core/Settings.h"
#include "platform/FileUtil.h"
#include "platform/IniFile.h"
#include "support/ExchangeServer.h"
#include "support/FreePort.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace pellora;
using pellora::test::GetFile;
using pellora::test::PutFile;
using pellora::test::TempDir;

namespace {

const std::string BuildDir = PELLORA_BUILD_DIR;
const std::string BuiltCli = BuildDir + "/bin/pellora-cli";
const std::string Admin = BuildDir + "/bin/pellora-exchange";

constexpr const char* Downloaded =
    "New messages have been downloaded.\nAll categories were checked.\n";
constexpr const char* NothingNew = "Nothing new to download.\nAll categories were checked.\n";
constexpr const char* Uploaded = "New and edited messages have been uploaded. Any deleted "
                                 "messages will have been passed on too.\n";
constexpr const char* ConnectionProblem =
    "There was some kind of problem with the internet connection.\n"
    "Please make sure you are connected to the internet.\n";

// The access request and the upload both post to edit.cgi.
constexpr const char* EditPost = "POST /cgi-bin/pellora/edit.cgi ";
constexpr const char* EnglishDownload =
    "GET /cgi-bin/pellora/retrieve.cgi?file=messages&langcode=en ";

using Result = pellora::test::ProgramResult;

using pellora::test::RunProgram;

std::string DataFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    return std::string(data != nullptr ? data : "") + "/Harbrook/Pellora 3/";
}

std::vector<TMsgRecord> Records(const std::string& path) {
    std::vector<TMsgRecord> records;
    TMsgRecord record;
    for (const std::string& line : ReadTextLines(path))
        if (ParseMsgRecord(line, record))
            records.push_back(record);
    return records;
}

// A fresh data folder, the companion in an installation of its own that ships nothing (so
// every library file is the download's), and an exchange serving an English library.
class CliExchange : public ::testing::Test {
protected:
    void SetUp() override {
        pellora::test::RemoveTree(DataFolder());
        PutFile(Program, GetFile(BuiltCli));
        ASSERT_EQ(::chmod(Program.c_str(), 0755), 0);

        ASSERT_EQ(RunProgram(Admin, {"--db", Db, "init"}).Status, 0);
        Import("EN", "|NEW|1|101|||Am I dreaming?\r\n"
                     "|NEW|2|102|||Drink a glass of water.\r\n"
                     "|NEW|4|103|||Be here now.\r\n"
                     "|MOD|2|102|||Drink two glasses of water.\r\n");
        Web = std::make_unique<test::ExchangeServer>(Db);
        PointAt(Web->Base());
    }

    void Import(const std::string& code, const std::string& journal) {
        PutFile(Server / "import.cfg", journal);
        Result imported = RunProgram(Admin, {"--db", Db, "import", code, Server / "import.cfg"});
        ASSERT_EQ(imported.Status, 0) << imported.Err;
    }
    void PointAt(const std::string& base) {
        Prefs().WriteString("Internet", "Pellora Exchange", base);
    }
    IniFile Prefs() { return IniFile(DataFolder() + "pellora Prefs.ini"); }
    std::string Data(const std::string& relative) { return DataFolder() + relative; }
    Result Cli(std::vector<std::string> args) { return RunProgram(Program, std::move(args)); }

    TempDir Install;
    std::string Program = Install / "bin/pellora-cli";
    TempDir Server;
    std::string Db = Server / "exchange.db";
    std::unique_ptr<test::ExchangeServer> Web;
};

TEST_F(CliExchange, DownloadStoresTheLibraryAndOnlyNewsComeAgain) {
    Result first = Cli({"download", "en"});
    ASSERT_EQ(first.Status, 0) << first.Err;
    const std::string library = Data("Local/en/messages.cfg");
    std::vector<std::string> lines = ReadTextLines(library);
    EXPECT_EQ(first.Out, std::string(Downloaded) + std::to_string(lines.size()) +
                             " lines stored in " + library + "\n");
    for (const TMsgRecord& record : Records(library))
        EXPECT_NE(record.Stamp, "") << record.Text;
    EXPECT_EQ(Cli({"messages", "EN"}).Out,
              "101\tAm I dreaming?\n102\tDrink two glasses of water.\n103\tBe here now.\n");
    // A 63-bit id, which only the 64-bit reading takes.
    EXPECT_GE(ReadKey(Prefs(), keys::AccessId), std::int64_t(1) << 31);
    const std::string lastModified =
        Prefs().ReadString("Internet", "Last-Modified for messages-EN", "");
    EXPECT_NE(lastModified, "");

    // Unchanged on the server: nothing is sent and the file is not touched.
    const std::string bytes = GetFile(library);
    struct stat before {};
    ASSERT_EQ(::stat(library.c_str(), &before), 0);
    Result second = Cli({"download", "EN"});
    EXPECT_EQ(second.Status, 0) << second.Err;
    EXPECT_EQ(second.Out, NothingNew);
    EXPECT_EQ(Web->Web().WaitForRequests(EnglishDownload + std::string("HTTP/1.1\" 304"), 1), 1);
    struct stat after {};
    ASSERT_EQ(::stat(library.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(GetFile(library), bytes);
    EXPECT_EQ(Web->Web().CountRequests(EditPost), 1);

    // A change on the server brings the whole library again.
    Import("EN", "|NEW|3|104|||I am calm.\r\n");
    Result third = Cli({"download", "EN"});
    ASSERT_EQ(third.Status, 0) << third.Err;
    EXPECT_EQ(third.Out.rfind(Downloaded, 0), 0u) << third.Out;
    EXPECT_EQ(Cli({"messages", "EN", "--group", "3"}).Out, "104\tI am calm.\n");
    EXPECT_NE(Prefs().ReadString("Internet", "Last-Modified for messages-EN", ""), lastModified);

    // A language the server has no library for has nothing new either.
    Result dutch = Cli({"download", "NL"});
    EXPECT_EQ(dutch.Status, 0) << dutch.Err;
    EXPECT_EQ(dutch.Out, NothingNew);
    EXPECT_FALSE(PathExists(Data("Local/nl/messages.cfg")));
}

TEST_F(CliExchange, UploadSendsThePendingBlockAndCommitsTheAnswer) {
    const std::string own = Data("Local/en/custom.cfg");
    const std::string original = "|NEW|1|||-1|Look at your hands.\r\n|NEW|3|||-2|I am calm.\r\n";
    PutFile(own, original);
    Result first = Cli({"upload", "EN"});
    ASSERT_EQ(first.Status, 0) << first.Err;
    EXPECT_EQ(first.Out, std::string(Uploaded) + "2 changes sent, 2 lines stored in " + own + "\n");
    std::vector<TMsgRecord> records = Records(own);
    ASSERT_EQ(records.size(), 2u);
    for (const TMsgRecord& record : records) {
        EXPECT_NE(record.Stamp, "");
        EXPECT_GT(record.ServerId, 0);
    }
    EXPECT_EQ(records[0].OwnId, -1);
    EXPECT_EQ(records[0].Text, "Look at your hands.");
    EXPECT_EQ(records[1].OwnId, -2);
    EXPECT_EQ(GetFile(Data("Local/en/custom.bak")), original);
    Result pending = RunProgram(Admin, {"--db", Db, "pending"});
    EXPECT_NE(pending.Out.find("Look at your hands."), std::string::npos) << pending.Out;
    EXPECT_NE(pending.Out.find("I am calm."), std::string::npos) << pending.Out;

    // Nothing left: no request goes out.
    Result again = Cli({"upload", "EN"});
    EXPECT_EQ(again.Status, 0) << again.Err;
    EXPECT_EQ(again.Out, "There are no new messages to upload.\n");
    // The access request and the one upload.
    EXPECT_EQ(Web->Web().WaitForRequests(EditPost, 2), 2);

    // A change of an uploaded message names its server id; it goes out together with a
    // message written before it.
    const std::string sid = std::to_string(records[0].ServerId);
    PutFile(own, GetFile(own) + "|NEW|2|||-3|Drink water.\r\n|MOD|1|" + sid +
                     "||-1|Look at both hands.\r\n");
    Result edits = Cli({"upload", "EN"});
    ASSERT_EQ(edits.Status, 0) << edits.Err;
    EXPECT_EQ(edits.Out, std::string(Uploaded) + "2 changes sent, 2 lines stored in " + own + "\n");
    EXPECT_EQ(Cli({"messages", "EN", "--own"}).Out,
              "-1\tLook at both hands.\n-2\tI am calm.\n-3\tDrink water.\n");
    pending = RunProgram(Admin, {"--db", Db, "pending"});
    EXPECT_NE(pending.Out.find("Look at both hands."), std::string::npos) << pending.Out;
    EXPECT_EQ(Cli({"upload", "EN"}).Out, "There are no new messages to upload.\n");
    // The lock files the writes took are gone with the program.
    for (const std::string& folder : {Data(""), Data("Local/en/")})
        for (const std::string& name : ListFolder(folder))
            EXPECT_FALSE(name.ends_with(".lock")) << folder << name;
}

TEST_F(CliExchange, FailedExchangesExitNonZeroAndLoseNothing) {
    const std::string own = Data("Local/en/custom.cfg");
    const std::string library = Data("Local/en/messages.cfg");
    PutFile(own, "|NEW|1|||-1|Look at your hands.\r\n");
    PutFile(library, "|NEW|1|7|||kept\r\n");

    // Nobody listens.
    const std::string closedBase =
        "http://127.0.0.1:" + std::to_string(test::FreePort()) + "/cgi-bin/pellora/";
    PointAt(closedBase);
    for (const char* command : {"download", "upload"}) {
        Result closed = Cli({command, "EN"});
        EXPECT_EQ(closed.Status, 1) << command;
        EXPECT_EQ(closed.Out, "") << command;
        EXPECT_EQ(closed.Err, std::string("pellora-cli ") + command +
                                  ": A connection with the server could not be established (" +
                                  closedBase + "edit.cgi)\n");
    }
    EXPECT_EQ(GetFile(own), "|NEW|1|||-1|Look at your hands.\r\n");
    EXPECT_EQ(GetFile(library), "|NEW|1|7|||kept\r\n");
    EXPECT_FALSE(PathExists(Data("Local/en/custom.bak")));
    EXPECT_EQ(Prefs().ReadInteger("Internet", "Access id", 0), 0);

    // A server that answers, but not as the exchange does.
    const std::string nowhere = Web->Web().Url("nowhere/");
    PointAt(nowhere);
    Result missing = Cli({"download", "EN"});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_EQ(missing.Err, std::string(ConnectionProblem) + "The server at " + nowhere +
                               "edit.cgi answered \"HTTP/1.1 404 Not Found\".\n");
    EXPECT_TRUE(FileExists(Data("Access Request.log")));
    EXPECT_EQ(GetFile(library), "|NEW|1|7|||kept\r\n");

    // The server refuses a change of a message this user never uploaded.
    PointAt(Web->Base());
    PutFile(own, "|NEW|1|||-1|Look at your hands.\r\n|MOD|1|101||-9|Not mine.\r\n");
    Result refused = Cli({"upload", "EN"});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_EQ(refused.Err.rfind("Something went wrong while processing remotely\n", 0), 0u)
        << refused.Err;
    EXPECT_EQ(GetFile(own), "|NEW|1|||-1|Look at your hands.\r\n|MOD|1|101||-9|Not mine.\r\n");
    EXPECT_FALSE(PathExists(Data("Local/en/custom.bak")));
    EXPECT_TRUE(FileExists(Data("Upload Messages.log")));

    // A limit of the server: named, with when to try again, and still nothing lost.
    ASSERT_EQ(RunProgram(Admin, {"--db", Db, "config", "queue-bytes", "1"}).Status, 0);
    PutFile(own, "|NEW|1|||-1|Look at your hands.\r\n");
    Result full = Cli({"upload", "EN"});
    EXPECT_EQ(full.Status, 1);
    EXPECT_EQ(full.Err, "pellora-cli upload: The review queue of the exchange server at " +
                            Web->Base() +
                            "edit.cgi is full (queue-bytes=1).\nPlease try again in 1 hour.\n");
    EXPECT_EQ(GetFile(own), "|NEW|1|||-1|Look at your hands.\r\n");
    EXPECT_FALSE(PathExists(Data("Local/en/custom.bak")));
}

TEST_F(CliExchange, ALibraryThatCannotBeStoredIsDownloadedAgain) {
    // A plain file where the language folder belongs.
    PutFile(Data("Local/en"), "in the way");
    Result blocked = Cli({"download", "EN"});
    EXPECT_EQ(blocked.Status, 1);
    EXPECT_EQ(blocked.Err.rfind("pellora-cli download: Error while requiring folder name for "
                                "downloads",
                                0),
              0u)
        << blocked.Err;
    EXPECT_NE(blocked.Err.find("\"" + Data("Local/en") + "\": Not a directory"), std::string::npos)
        << blocked.Err;
    EXPECT_EQ(Prefs().ReadString("Internet", "Last-Modified for messages-EN", ""), "");

    ASSERT_TRUE(std::remove(Data("Local/en").c_str()) == 0);
    Result retry = Cli({"download", "EN"});
    EXPECT_EQ(retry.Status, 0) << retry.Err;
    EXPECT_EQ(retry.Out.rfind(Downloaded, 0), 0u) << retry.Out;
    EXPECT_EQ(Web->Web().CountRequests(EnglishDownload + std::string("HTTP/1.1\" 304")), 0);
}

TEST_F(CliExchange, AReplyThatIsNoLibraryIsRefusedAndChangesNothing) {
    // A network's sign-in page answers every address.
    const std::string portal = Web->DocumentRoot() + "portal/";
    PutFile(portal + "retrieve.cgi", "<html><body>Sign in to use this network</body></html>\n");
    PointAt(Web->Web().Url("portal/"));
    Prefs().WriteInteger("Internet", "Access id", 5);
    Prefs().WriteString("Internet", "Last-Modified for messages-EN",
                        "Sat, 05 Dec 2026 10:00:00 GMT");
    const std::string library = Data("Local/en/messages.cfg");
    PutFile(library, "|NEW|1|7|||kept\r\n");
    Result refused = Cli({"download", "EN"});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_EQ(refused.Out, "");
    EXPECT_EQ(refused.Err, std::string(ConnectionProblem) + "The reply of " +
                               Web->Web().Url("portal/") +
                               "retrieve.cgi?file=messages&langcode=en is no message library: "
                               "it holds no message records.\n");
    EXPECT_EQ(GetFile(library), "|NEW|1|7|||kept\r\n");
    EXPECT_EQ(Prefs().ReadString("Internet", "Last-Modified for messages-EN", ""),
              "Sat, 05 Dec 2026 10:00:00 GMT");
}

TEST_F(CliExchange, CredentialsInTheExchangeAddressAreUsed) {
    Web.reset();
    test::ExchangeServerOptions locked;
    locked.AuthUsers = {{"ann", "pw1"}};
    Web = std::make_unique<test::ExchangeServer>(Db, locked);
    PointAt(Web->BaseWithCredentials("ann", "pw1"));
    Result download = Cli({"download", "EN"});
    ASSERT_EQ(download.Status, 0) << download.Err;
    EXPECT_EQ(download.Out.rfind(Downloaded, 0), 0u) << download.Out;
    EXPECT_EQ(Web->Web().WaitForRequests(EnglishDownload, 1), 1);
    EXPECT_EQ(Web->Web().CountRequests("\" 401 "), 0);

    PointAt(Web->Base());
    Result refused = Cli({"download", "EN"});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("asked for a user name and password"), std::string::npos)
        << refused.Err;
}

// strace kills pellora-cli when it is about to make its Nth rename (every file is written to
// a temporary file and renamed over the old one), for each N in turn; the next download must
// bring the library, whatever was written before the kill.
TEST_F(CliExchange, ADownloadKilledAtAnyWriteIsMadeAgainNextTime) {
    const std::string library = Data("Local/en/messages.cfg");
    const std::string current = Cli({"download", "EN"}).Out;
    ASSERT_EQ(current.rfind(Downloaded, 0), 0u) << current;
    const std::string messages = Cli({"messages", "EN"}).Out;
    int kills = 0;
    for (int n = 1; n <= 20; ++n) {
        pellora::test::RemoveTree(DataFolder());
        PointAt(Web->Base());
        // Leak checking cannot work under a tracer.
        Result killed =
            RunProgram("/usr/bin/strace",
                       {"-f", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0", "-e",
                        "inject=rename,renameat,renameat2:signal=SIGKILL:when=" + std::to_string(n),
                        Program, "download", "EN"});
        if (killed.Status == 0)
            break; // no Nth rename: the download wrote everything
        ASSERT_EQ(killed.Status, 128 + 9) << killed.Err;
        ++kills;
        Result next = Cli({"download", "EN"});
        EXPECT_EQ(next.Status, 0) << "killed at rename " << n << ": " << next.Err;
        EXPECT_EQ(next.Out.rfind(Downloaded, 0), 0u)
            << "killed at rename " << n << ": " << next.Out;
        EXPECT_EQ(Cli({"messages", "EN"}).Out, messages) << "killed at rename " << n;
    }
    // The access id, the library and its date at the least.
    EXPECT_GE(kills, 3);
}

TEST_F(CliExchange, UsageErrors) {
    for (const char* command : {"download", "upload"}) {
        Result help = Cli({command, "--help"});
        EXPECT_EQ(help.Status, 0);
        EXPECT_EQ(help.Out.rfind(std::string("Usage: pellora-cli ") + command + " CODE", 0), 0u);
        EXPECT_EQ(Cli({command}).Status, 2) << command;
        EXPECT_EQ(Cli({command, "EN", "NL"}).Status, 2) << command;
        Result escape = Cli({command, "../x"});
        EXPECT_EQ(escape.Status, 2) << command;
        EXPECT_NE(escape.Err.find("not a two-letter language code"), std::string::npos);
    }
    EXPECT_NE(Cli({"--help"}).Out.find("  download "), std::string::npos);
    EXPECT_EQ(Web->Web().AccessLogLines().size(), 0u);
}

} // namespace
