#include "ExchangeAdmin.h"
#include "ExchangeStore.h"
#include "platform/FileUtil.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace pellora;
using pellora::test::TempDir;

namespace {

struct Outcome {
    int Status;
    std::string Out, Err;
};

Outcome Admin(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    int status = RunExchangeAdmin(args, out, err);
    return {status, out.str(), err.str()};
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(ExchangeAdmin, SeedsReviewsAndPublishes) {
    TempDir dir;
    const std::string db = dir / "new/folder/exchange.db";
    test::PutFile(dir / "en.cfg", "|NEW|1|1|||One\r\n|NEW|2|2|||Two\r\nnoise\r\n");

    EXPECT_EQ(Admin({"--db", db, "init"}).Status, 0);
    EXPECT_EQ(Admin({"--db=" + db, "init"}).Status, 0); // again: nothing lost
    Outcome imported = Admin({"--db", db, "import", "en", dir / "en.cfg"});
    EXPECT_EQ(imported.Status, 0) << imported.Err;
    EXPECT_TRUE(Has(imported.Out, "Imported 2 lines into EN")) << imported.Out;
    EXPECT_TRUE(Has(imported.Out, "1 skipped")) << imported.Out;

    Outcome none = Admin({"--db", db, "pending"});
    EXPECT_EQ(none.Status, 0);
    EXPECT_TRUE(Has(none.Out, "No uploads")) << none.Out;

    std::int64_t before = 0;
    {
        TSqliteStore store(db);
        before = store.ReadLibrary("EN").Modified;
        TAccessId access = store.RequestAccess("192.0.2.1", false);
        store.AddDeltas(access, "EN", {{TMsgAction::New, 4, 0, -1, "Quote me"}}, "192.0.2.1");
        store.AddDeltas(access, "EN", {{TMsgAction::New, 1, 0, -2, "Not this"}}, "192.0.2.1");
    }
    std::vector<TSubmission> waiting = TSqliteStore(db).Pending();
    ASSERT_EQ(waiting.size(), 2u);
    Outcome listed = Admin({"--db", db, "pending"});
    EXPECT_TRUE(Has(listed.Out, std::to_string(waiting[0].Id) + "  EN  NEW  group 4"))
        << listed.Out;
    EXPECT_TRUE(Has(listed.Out, "Quote me")) << listed.Out;

    Outcome approved = Admin({"--db", db, "approve", std::to_string(waiting[0].Id)});
    EXPECT_EQ(approved.Status, 0) << approved.Err;
    EXPECT_TRUE(Has(approved.Out, "EN library: 3 lines")) << approved.Out;
    EXPECT_EQ(Admin({"--db", db, "reject", std::to_string(waiting[1].Id)}).Status, 0);
    TSqliteStore store(db);
    EXPECT_TRUE(store.Pending().empty());
    EXPECT_FALSE(store.ReadLibrary("EN", before).NotModified);
    EXPECT_EQ(ReplayJournal(store.ReadLibrary("EN").Lines, 4, true).at(0).Text, "Quote me");
}

TEST(ExchangeAdmin, FailuresSayWhyAndChangeNothing) {
    TempDir dir;
    const std::string db = dir / "exchange.db";
    Outcome missing = Admin({"--db", db, "pending"});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_TRUE(Has(missing.Err, "init")) << missing.Err;
    EXPECT_FALSE(PathExists(db));

    ASSERT_EQ(Admin({"--db", db, "init"}).Status, 0);
    Outcome noFile = Admin({"--db", db, "import", "EN", dir / "absent.cfg"});
    EXPECT_EQ(noFile.Status, 1);
    EXPECT_TRUE(Has(noFile.Err, "absent.cfg")) << noFile.Err;
    test::PutFile(dir / "bad.cfg", "|NEW|1|1|||One\r\n|NEW|1|x|||Bad id\r\n");
    Outcome bad = Admin({"--db", db, "import", "EN", dir / "bad.cfg"});
    EXPECT_EQ(bad.Status, 1);
    EXPECT_TRUE(Has(bad.Err, "Line 2")) << bad.Err;
    EXPECT_FALSE(TSqliteStore(db).ReadLibrary("EN").Exists);
    Outcome unknown = Admin({"--db", db, "approve", "7"});
    EXPECT_EQ(unknown.Status, 1);
    EXPECT_TRUE(Has(unknown.Err, "no submission 7")) << unknown.Err;

    for (const std::vector<std::string>& args : {
             std::vector<std::string>{},
             std::vector<std::string>{"--db"},
             std::vector<std::string>{"--db", db},
             std::vector<std::string>{"--db", db, "frobnicate"},
             std::vector<std::string>{"--db", db, "import", "english", dir / "bad.cfg"},
             std::vector<std::string>{"--db", db, "import", "EN"},
             std::vector<std::string>{"--db", db, "approve"},
             std::vector<std::string>{"--db", db, "approve", "1", "two"},
             std::vector<std::string>{"--db", db, "reject", "-1"},
             std::vector<std::string>{"--db", db, "init", "extra"},
             std::vector<std::string>{"--db", db, "reject", "--access-id"},
             std::vector<std::string>{"--db", db, "purge", "--days", "x"},
             std::vector<std::string>{"--db", db, "config", "no-such-limit", "3"},
             std::vector<std::string>{"--db", db, "config", "upload-lines", "-3"},
             std::vector<std::string>{"--db", db, "backup"},
         }) {
        Outcome usage = Admin(args);
        EXPECT_EQ(usage.Status, 2) << (args.empty() ? "" : args.back());
        EXPECT_TRUE(Has(usage.Err, "Usage:")) << usage.Err;
    }
}

TEST(ExchangeAdmin, DatabaseComesFromTheOptionElseTheVariable) {
    TempDir dir;
    test::ScopedEnv env;
    env.Set("PELLORA_EXCHANGE_DB", dir / "from-env.db");
    EXPECT_EQ(Admin({"init"}).Status, 0);
    EXPECT_TRUE(FileExists(dir / "from-env.db"));
    EXPECT_EQ(Admin({"--db", dir / "from-option.db", "init"}).Status, 0);
    EXPECT_TRUE(FileExists(dir / "from-option.db"));
    EXPECT_EQ(Admin({"pending"}).Status, 0);
}

TEST(ExchangeAdmin, ReviewToolsShowTextSafelyAndClearWholeAccessIds) {
    TempDir dir;
    const std::string db = dir / "exchange.db";
    ASSERT_EQ(Admin({"--db", db, "init"}).Status, 0);
    TAccessId spammer = 0, other = 0;
    {
        TSqliteStore store(db);
        spammer = store.RequestAccess("192.0.2.1", false);
        other = store.RequestAccess("192.0.2.2", false);
        // Rows of an older database may hold what uploads may not hold today.
        store.AddDeltas(spammer, "EN",
                        {{TMsgAction::New, 1, 0, -1, "\x1b]2;owned\x07\x1b[2J\\ \xff caf\xc3\xa9"},
                         {TMsgAction::New, 1, 0, -2,
                          "\xc2\x9b"
                          "6n"}},
                        "192.0.2.1");
        store.AddDeltas(other, "EN", {{TMsgAction::New, 1, 0, -1, "Fine"}}, "192.0.2.2");
    }
    Outcome listed = Admin({"--db", db, "pending"});
    EXPECT_TRUE(Has(listed.Out, "\\x1B]2;owned\\x07\\x1B[2J\\\\ \\xFF caf\xc3\xa9")) << listed.Out;
    EXPECT_TRUE(Has(listed.Out, "\\xC2\\x9B6n")) << listed.Out;
    EXPECT_TRUE(Has(listed.Out, "from 192.0.2.1")) << listed.Out;
    for (char c : listed.Out)
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << int(c);

    Outcome rejected = Admin({"--db", db, "reject", "--access-id", std::to_string(spammer)});
    EXPECT_EQ(rejected.Status, 0) << rejected.Err;
    EXPECT_TRUE(Has(rejected.Out, "Rejected 2 submissions")) << rejected.Out;
    Outcome purged = Admin({"--db", db, "purge"});
    EXPECT_EQ(purged.Status, 0) << purged.Err;
    EXPECT_TRUE(Has(purged.Out, "Deleted 2 decided submissions")) << purged.Out;
    std::vector<TSubmission> left = TSqliteStore(db).Pending();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].AccessId, other);

    Outcome set = Admin({"--db", db, "config", "upload-lines", "20"});
    EXPECT_EQ(set.Status, 0) << set.Err;
    EXPECT_TRUE(Has(set.Out, "upload-lines 20\n")) << set.Out;
    EXPECT_EQ(TSqliteStore(db).Limits().UploadLines, 20);

    Outcome backup = Admin({"--db", db, "backup", dir / "copy.db"});
    EXPECT_EQ(backup.Status, 0) << backup.Err;
    EXPECT_EQ(TSqliteStore(dir / "copy.db").Pending().size(), 1u);
    EXPECT_EQ(Admin({"--db", db, "backup", dir / "copy.db"}).Status, 1); // never overwritten
}
