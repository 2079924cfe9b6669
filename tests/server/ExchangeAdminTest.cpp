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
        TExchangeStore store(db);
        before = store.ReadLibrary("EN").Modified;
        std::int32_t access = store.RequestAccess();
        store.AddDeltas(access, "EN", {{TMsgAction::New, 4, 0, -1, "Quote me"}});
        store.AddDeltas(access, "EN", {{TMsgAction::New, 1, 0, -2, "Not this"}});
    }
    std::vector<TSubmission> waiting = TExchangeStore(db).Pending();
    ASSERT_EQ(waiting.size(), 2u);
    Outcome listed = Admin({"--db", db, "pending"});
    EXPECT_TRUE(Has(listed.Out, std::to_string(waiting[0].Id) + "  EN  NEW  group 4"))
        << listed.Out;
    EXPECT_TRUE(Has(listed.Out, "Quote me")) << listed.Out;

    Outcome approved = Admin({"--db", db, "approve", std::to_string(waiting[0].Id)});
    EXPECT_EQ(approved.Status, 0) << approved.Err;
    EXPECT_TRUE(Has(approved.Out, "EN library: 3 lines")) << approved.Out;
    EXPECT_EQ(Admin({"--db", db, "reject", std::to_string(waiting[1].Id)}).Status, 0);
    TExchangeStore store(db);
    EXPECT_TRUE(store.Pending().empty());
    EXPECT_GT(store.ReadLibrary("EN").Modified, before);
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
    EXPECT_FALSE(TExchangeStore(db).ReadLibrary("EN").Exists);
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
