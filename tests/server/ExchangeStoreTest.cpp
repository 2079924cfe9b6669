#include "ExchangeStore.h"
#include "ExchangeErrors.h"
#include "core/MsgRecord.h"
#include "platform/StrUtils.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <set>
#include <sqlite3.h>

using namespace pellora;
using pellora::test::TempDir;

namespace {

constexpr std::int64_t Start = 1796464800; // Sat, 05 Dec 2026 10:00:00 GMT

// A store on a fresh database whose clock the test moves by hand.
class ExchangeStoreTest : public ::testing::Test {
protected:
    ExchangeStoreTest()
        : Path(Dir / "exchange.db"),
          Store(Path, TSqliteStore::TOpenMode::Create, [this] { return Clock; }) {}

    TMsgRecord Record(const std::string& line) {
        TMsgRecord record;
        EXPECT_TRUE(ParseMsgRecord(line, record)) << line;
        return record;
    }
    std::vector<std::int64_t> PendingIds() {
        std::vector<std::int64_t> ids;
        for (const TSubmission& s : Store.Pending())
            ids.push_back(s.Id);
        return ids;
    }
    TAccessId Access() { return Store.RequestAccess("192.0.2.1", false); }
    TUploadResult Add(TAccessId access, const std::string& language,
                      const std::vector<TDelta>& deltas) {
        return Store.AddDeltas(access, language, deltas, "192.0.2.1");
    }
    TextList Replay(const std::string& language) {
        return ReplayJournal(Store.ReadLibrary(language).Lines, 0, true);
    }

    TempDir Dir;
    std::int64_t Clock = Start;
    std::string Path;
    TSqliteStore Store;
};

TDelta New(std::int32_t group, std::int32_t ownId, const std::string& text) {
    return {TMsgAction::New, group, 0, ownId, text};
}

} // namespace

TEST_F(ExchangeStoreTest, AccessIdsAreRandomAndNeverRepeat) {
    std::set<TAccessId> wide, narrow;
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(wide.insert(Store.RequestAccess("192.0.2.1", false)).second);
        EXPECT_TRUE(narrow.insert(Store.RequestAccess("192.0.2.2", true)).second);
    }
    EXPECT_GE(*wide.begin(), FirstWideAccessId);
    EXPECT_GT(*narrow.begin(), 0);
    EXPECT_LT(*narrow.rbegin(), FirstWideAccessId);
    // Not one after the other, so that one id tells nothing about the next.
    auto spread = [](const std::set<TAccessId>& ids) {
        return static_cast<double>(*ids.rbegin() - *ids.begin());
    };
    EXPECT_GT(spread(narrow), 1e6);
    EXPECT_GT(spread(wide), 1e15);
    // Reopening the file keeps them valid.
    TSqliteStore again(Path, TSqliteStore::TOpenMode::Existing, [this] { return Clock; });
    for (TAccessId id : {*wide.begin(), *narrow.begin()})
        EXPECT_EQ(again.AddDeltas(id, "EN", {New(1, -1, "Still mine")}, "192.0.2.3").Outcome,
                  TUploadOutcome::Stored);
}

TEST_F(ExchangeStoreTest, ImportedLibraryReadsBackWithStampsAndServerIds) {
    EXPECT_FALSE(Store.ReadLibrary("EN").Exists);
    TImportResult imported = Store.Import(
        "EN", {"|NEW|1|1|||Am I dreaming?", "", "not a record", "|NEW|2|||-4|No id yet",
               "old|MOD|1|1|||Am I dreaming right now?", "|DEL|3|99|||never added"});
    EXPECT_EQ(imported.Added, 3);
    EXPECT_EQ(imported.Skipped, 2);

    TLibraryRead library = Store.ReadLibrary("EN");
    ASSERT_TRUE(library.Exists);
    EXPECT_EQ(library.Modified, Start);
    ASSERT_EQ(library.Lines.size(), 3u);
    for (const std::string& line : library.Lines) {
        TMsgRecord r = Record(line);
        EXPECT_FALSE(r.Stamp.empty()) << line;
        EXPECT_GT(r.ServerId, 0) << line;
        EXPECT_EQ(r.OwnId, 0) << line; // uploaders' own numbers stay private
    }
    EXPECT_EQ(Record(library.Lines[1]).ServerId, 2); // the next free id
    TextList messages = Replay("EN");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].Text, "Am I dreaming right now?");
    EXPECT_EQ(messages[1].Text, "No id yet");
    EXPECT_FALSE(Store.ReadLibrary("DE").Exists);
}

TEST_F(ExchangeStoreTest, ImportFailsWholeOnABadLine) {
    Store.Import("EN", {"|NEW|1|5|||Five"});
    const TLibraryRead before = Store.ReadLibrary("EN");
    for (const std::vector<std::string>& lines : {
             std::vector<std::string>{"|NEW|1|6|||Six", "|NEW|1|5|||Five again"},
             std::vector<std::string>{"|NEW|1|6|||Six", "|NEW|x|7|||Bad group"},
             std::vector<std::string>{"|NEW|1|6|||Six", "|NEW|9|7|||No such group"},
             std::vector<std::string>{"|NEW|1|-6|||Negative"},
             // The server could not go on from the last 32-bit id.
             std::vector<std::string>{"|NEW|1|2147483647|||Last"},
             std::vector<std::string>{"|NEW|1|1000000001|||Too high"},
             std::vector<std::string>{"|NEW|1|6|||Escape \x1b[2J"},
             std::vector<std::string>{"|NEW|1|6|||Latin-1 \xe9t\xe9"},
         }) {
        Clock += 10;
        EXPECT_THROW(Store.Import("EN", lines), EStoreError) << lines.back();
        // The same id in another language is taken too: server ids are global.
        EXPECT_THROW(Store.Import("DE", {"|NEW|1|5|||Fünf"}), EStoreError);
    }
    const TLibraryRead after = Store.ReadLibrary("EN");
    EXPECT_EQ(after.Lines, before.Lines);
    EXPECT_TRUE(Store.ReadLibrary("EN", Start).NotModified);
    EXPECT_FALSE(Store.ReadLibrary("DE").Exists);
}

TEST_F(ExchangeStoreTest, NotModifiedOnlyWhenTheLibraryIsNotNewer) {
    Store.Import("EN", {"|NEW|1|1|||One"});
    Clock = Start + 60;
    EXPECT_EQ(Store.ReadLibrary("EN").Modified, Start);
    EXPECT_TRUE(Store.ReadLibrary("EN", Start).NotModified);
    EXPECT_TRUE(Store.ReadLibrary("EN", Start + 60).NotModified);
    // A time this store has not reached cannot be one it handed out.
    EXPECT_FALSE(Store.ReadLibrary("EN", Start + 61).NotModified);
    TLibraryRead older = Store.ReadLibrary("EN", Start - 1);
    EXPECT_FALSE(older.NotModified);
    EXPECT_EQ(older.Lines.size(), 1u);
    EXPECT_TRUE(Store.ReadLibrary("EN", Start).Lines.empty());
}

TEST_F(ExchangeStoreTest, LastModifiedNeverPassesTheClockAndNoChangeIsMissed) {
    // Many changes within one second with a download after each, as when a reviewer
    // approves one upload after another while clients download.
    std::optional<std::int64_t> held;
    for (int i = 1; i <= 65; ++i) {
        Store.Import("EN", {Format("|NEW|1|%d|||Message %d", i, i)});
        if (held) {
            EXPECT_FALSE(Store.ReadLibrary("EN", *held).NotModified) << i;
        }
        TLibraryRead now = Store.ReadLibrary("EN");
        EXPECT_LE(now.Modified, Clock) << i;
        held = now.Modified;
    }
    // Once the clock has moved on, the latest copy is current.
    Clock = Start + 2;
    TLibraryRead settled = Store.ReadLibrary("EN");
    EXPECT_LE(settled.Modified, Clock);
    EXPECT_EQ(settled.Lines.size(), 65u);
    EXPECT_TRUE(Store.ReadLibrary("EN", settled.Modified).NotModified);
    EXPECT_TRUE(Store.ReadLibrary("EN", settled.Modified).Lines.empty());
    // Changes without a download in between keep one time.
    Clock = Start + 100;
    for (int i = 66; i <= 70; ++i)
        Store.Import("EN", {Format("|NEW|1|%d|||Message %d", i, i)});
    EXPECT_FALSE(Store.ReadLibrary("EN", settled.Modified).NotModified);
    EXPECT_EQ(Store.ReadLibrary("EN").Modified, Start + 100);
    EXPECT_TRUE(Store.ReadLibrary("EN", Start + 100).NotModified);
    // A clock set back never makes a time handed out run ahead of it.
    Clock = Start + 50;
    Store.Import("EN", {"|NEW|1|71|||Clock set back"});
    EXPECT_LE(Store.ReadLibrary("EN").Modified, Clock);
    EXPECT_FALSE(Store.ReadLibrary("EN", Start + 49).NotModified);
}

TEST_F(ExchangeStoreTest, UploadAssignsServerIdsAndAnswersEachLine) {
    Store.Import("EN", {"|NEW|1|40|||Seeded"});
    TAccessId access = Access();
    TUploadResult first =
        Add(access, "EN", {New(1, -1, "Mine"), {TMsgAction::New, 2, 40, -2, "Claims a taken id"}});
    EXPECT_EQ(first.Outcome, TUploadOutcome::Stored);
    EXPECT_EQ(first.New, 2);
    EXPECT_EQ(first.Accepted, 2);
    EXPECT_EQ(first.Appended, 2);
    ASSERT_EQ(first.Lines.size(), 2u);
    TMsgRecord mine = Record(first.Lines[0]);
    TMsgRecord other = Record(first.Lines[1]);
    EXPECT_FALSE(mine.Stamp.empty());
    EXPECT_NE(mine.Stamp, other.Stamp);
    EXPECT_EQ(mine.OwnId, -1);
    EXPECT_EQ(mine.Group, 1);
    EXPECT_EQ(mine.Text, "Mine");
    EXPECT_GT(mine.ServerId, 40);
    EXPECT_GT(other.ServerId, mine.ServerId); // a NEW never takes over the id it carries

    // Its own message may be changed and deleted later, also in a second upload.
    TUploadResult second = Add(access, "EN",
                               {{TMsgAction::Mod, 1, mine.ServerId, -1, "Mine, better"},
                                {TMsgAction::Del, 2, other.ServerId, -2, ""}});
    EXPECT_EQ(second.Outcome, TUploadOutcome::Stored);
    EXPECT_EQ(second.New, 0);
    EXPECT_EQ(second.Appended, 2);
    EXPECT_EQ(Record(second.Lines[0]).ServerId, mine.ServerId);
    EXPECT_EQ(Record(second.Lines[1]).Action, TMsgAction::Del);

    // Uploads wait for review: the public library is untouched.
    EXPECT_EQ(Store.ReadLibrary("EN").Lines.size(), 1u);
    EXPECT_EQ(Store.Pending().size(), 4u);
    EXPECT_EQ(Store.Pending()[0].AccessId, access);
}

TEST_F(ExchangeStoreTest, ChangesOfMessagesNotOwnedStoreNothing) {
    Store.Import("EN", {"|NEW|1|40|||Seeded"});
    TAccessId ann = Access();
    TAccessId bob = Access();
    std::int32_t annsId = Record(Add(ann, "EN", {New(1, -1, "Ann's")}).Lines[0]).ServerId;
    const std::size_t pending = Store.Pending().size();

    struct Case {
        TAccessId Access;
        std::string Language;
        TDelta Change;
    };
    for (const Case& c : {
             Case{bob, "EN", {TMsgAction::Mod, 1, annsId, -1, "Bob's now"}},
             Case{bob, "EN", {TMsgAction::Del, 1, annsId, -1, ""}},
             Case{ann, "EN", {TMsgAction::Mod, 1, 40, -3, "Seeded ones belong to nobody"}},
             Case{ann, "EN", {TMsgAction::Mod, 1, 9999, -3, "No such message"}},
             Case{ann, "EN", {TMsgAction::Del, 1, 0, -3, "No id at all"}},
             Case{ann, "DE", {TMsgAction::Mod, 1, annsId, -1, "Wrong library"}},
         }) {
        TUploadResult result = Add(c.Access, c.Language, {New(1, -7, "Would be stored"), c.Change});
        EXPECT_EQ(result.Outcome, TUploadOutcome::Refused) << c.Change.Text;
        EXPECT_EQ(result.Accepted, 2);
        EXPECT_EQ(result.Appended, 0);
        EXPECT_EQ(result.New, 0);
        EXPECT_TRUE(result.Lines.empty());
    }
    EXPECT_EQ(Store.Pending().size(), pending);
    // The id handed out inside a refused upload was rolled back with it: nothing is lost.
    TMsgRecord next = Record(Add(bob, "EN", {New(1, -1, "Bob's")}).Lines[0]);
    EXPECT_EQ(next.ServerId, annsId + 1);
}

TEST_F(ExchangeStoreTest, UnknownAccessIdStoresNothing) {
    TUploadResult result = Add(12345, "EN", {New(1, -1, "x")});
    EXPECT_EQ(result.Outcome, TUploadOutcome::Refused);
    EXPECT_TRUE(result.Lines.empty());
    EXPECT_TRUE(Store.Pending().empty());
}

TEST_F(ExchangeStoreTest, ApprovalPublishesInArrivalOrderAndMovesLastModified) {
    Store.Import("EN", {"|NEW|1|1|||Seeded"});
    TAccessId access = Access();
    std::int32_t id = Record(Add(access, "EN", {New(2, -1, "Fresh")}).Lines[0]).ServerId;
    Add(access, "EN", {{TMsgAction::Mod, 2, id, -1, "Fresher"}});
    Add(access, "NL", {New(3, -2, "Vers")});
    std::vector<std::int64_t> ids = PendingIds();
    ASSERT_EQ(ids.size(), 3u);

    Clock += 30;
    // Given in any order, the change still follows the message it changes.
    std::vector<std::string> changed = Store.Approve({ids[1], ids[0], ids[2], ids[0]});
    EXPECT_EQ(changed, (std::vector<std::string>{"EN", "NL"}));
    EXPECT_TRUE(Store.Pending().empty());
    TextList en = Replay("EN");
    ASSERT_EQ(en.size(), 2u);
    EXPECT_EQ(en[1].Text, "Fresher");
    EXPECT_EQ(en[1].Id, id);
    Clock += 1;
    EXPECT_EQ(Store.ReadLibrary("EN").Modified, Start + 30);
    EXPECT_FALSE(Store.ReadLibrary("EN", Start).NotModified);
    EXPECT_EQ(Replay("NL").size(), 1u);

    // Deleting it later takes it out again.
    Add(access, "EN", {{TMsgAction::Del, 2, id, -1, ""}});
    Clock += 30;
    Store.Approve(PendingIds());
    EXPECT_EQ(Replay("EN").size(), 1u);
    Clock += 1;
    EXPECT_EQ(Store.ReadLibrary("EN").Modified, Start + 61);
}

TEST_F(ExchangeStoreTest, ApprovalAndRejectionAreAllOrNothing) {
    TAccessId access = Access();
    std::int32_t id = Record(Add(access, "EN", {New(1, -1, "One")}).Lines[0]).ServerId;
    Add(access, "EN", {{TMsgAction::Mod, 1, id, -1, "One, changed"}});
    std::vector<std::int64_t> ids = PendingIds();
    ASSERT_EQ(ids.size(), 2u);

    // The change alone cannot go in: the library does not hold its message yet.
    EXPECT_THROW(Store.Approve({ids[1]}), EStoreError);
    EXPECT_THROW(Store.Approve({ids[0], 999}), EStoreError);
    EXPECT_THROW(Store.Reject({ids[1], 999}), EStoreError);
    EXPECT_EQ(PendingIds(), ids);
    EXPECT_FALSE(Store.ReadLibrary("EN").Exists);

    Store.Reject({ids[0]});
    EXPECT_THROW(Store.Approve({ids[0]}), EStoreError);
    EXPECT_THROW(Store.Reject({ids[0]}), EStoreError);
    // With its message turned down, the change can only be turned down too.
    EXPECT_THROW(Store.Approve({ids[1]}), EStoreError);
    Store.Reject({ids[1]});
    EXPECT_TRUE(Store.Pending().empty());
    EXPECT_FALSE(Store.ReadLibrary("EN").Exists);
}

TEST(ExchangeStoreFile, RefusesMissingForeignAndCorruptFiles) {
    TempDir dir;
    EXPECT_THROW(TSqliteStore(dir / "missing.db"), EStoreError);
    EXPECT_EQ(test::GetFile(dir / "missing.db"), "<missing>");

    test::PutFile(dir / "text.db", "this is not a database at all, just some text\n");
    EXPECT_THROW(TSqliteStore(dir / "text.db"), EStoreError);
    EXPECT_THROW(TSqliteStore(dir / "text.db", TSqliteStore::TOpenMode::Create), EStoreError);
    EXPECT_EQ(test::GetFile(dir / "text.db"), "this is not a database at all, just some text\n");

    // An empty file is not an exchange database until it is set up.
    test::PutFile(dir / "empty.db", "");
    EXPECT_THROW(TSqliteStore(dir / "empty.db"), EStoreError);
    TSqliteStore(dir / "empty.db", TSqliteStore::TOpenMode::Create);
    EXPECT_NO_THROW(TSqliteStore(dir / "empty.db").RequestAccess("192.0.2.1", false));

    // Another program's database is left alone, not set up as ours.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open((dir / "foreign.db").c_str(), &db), SQLITE_OK);
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "CREATE TABLE notes (text TEXT)", -1, &statement, nullptr);
        EXPECT_EQ(sqlite3_step(statement), SQLITE_DONE);
        sqlite3_finalize(statement);
        sqlite3_close(db);
    }
    const std::string foreign = test::GetFile(dir / "foreign.db");
    EXPECT_THROW(TSqliteStore(dir / "foreign.db", TSqliteStore::TOpenMode::Create), EStoreError);
    EXPECT_EQ(test::GetFile(dir / "foreign.db"), foreign);

    // A damaged file gives an error, not a crash.
    {
        TSqliteStore made(dir / "ours.db", TSqliteStore::TOpenMode::Create);
        made.Import("EN", {"|NEW|1|1|||One"});
    }
    std::string ours = test::GetFile(dir / "ours.db");
    test::PutFile(dir / "damaged.db", ours.substr(0, 100) + std::string(ours.size() - 100, '\x5a'));
    EXPECT_THROW(TSqliteStore(dir / "damaged.db").ReadLibrary("EN"), EStoreError);
}

TEST_F(ExchangeStoreTest, ARetriedUploadIsAnsweredAsTheFirstTime) {
    TAccessId access = Access();
    const std::vector<TDelta> upload = {New(1, -1, "One"), New(2, -2, "Two")};
    TUploadResult first = Add(access, "EN", upload);
    const std::int32_t one = Record(first.Lines[0]).ServerId;
    Clock += 5;
    // The reply was lost and the same lines come again.
    TUploadResult again = Add(access, "EN", upload);
    EXPECT_EQ(again.Lines, first.Lines);
    EXPECT_EQ(again.New, 2);
    EXPECT_EQ(again.Appended, 2);
    EXPECT_EQ(Store.Pending().size(), 2u);

    // A change, then the same lines with one more edit made before the retry: the NEWs
    // already stored keep their ids, only the new edit is stored.
    Add(access, "EN", {{TMsgAction::Mod, 1, one, -1, "One, better"}});
    TUploadResult grown = Add(access, "EN", {New(1, -1, "One"), New(3, -3, "Three")});
    ASSERT_EQ(grown.Lines.size(), 2u);
    EXPECT_EQ(grown.Lines[0], first.Lines[0]);
    EXPECT_EQ(Store.Pending().size(), 4u);
    // A change made twice on purpose, with another in between, is stored each time.
    const std::vector<TDelta> back = {{TMsgAction::Mod, 1, one, -1, "One"}};
    Add(access, "EN", back);
    Add(access, "EN", {{TMsgAction::Mod, 1, one, -1, "Uno"}});
    Add(access, "EN", back);
    EXPECT_EQ(Store.Pending().size(), 7u);
    // Someone else's identical lines are theirs.
    Add(Access(), "EN", upload);
    EXPECT_EQ(Store.Pending().size(), 9u);
}

TEST(ExchangeStoreFile, AnOlderDatabaseIsBroughtUpToDateAndItsAccessIdsStayValid) {
    TempDir dir;
    const std::string path = dir / "old.db";
    {
        // The first version's tables, with an access id and an upload made then.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        const char* sql =
            "CREATE TABLE access (id INTEGER PRIMARY KEY AUTOINCREMENT, created INTEGER NOT NULL);"
            "CREATE TABLE message (server_id INTEGER PRIMARY KEY AUTOINCREMENT, lang TEXT NOT "
            "NULL, owner INTEGER NOT NULL, live INTEGER NOT NULL);"
            "CREATE TABLE library (lang TEXT PRIMARY KEY, modified INTEGER NOT NULL) WITHOUT ROWID;"
            "CREATE TABLE line (seq INTEGER PRIMARY KEY AUTOINCREMENT, lang TEXT NOT NULL, "
            "stamp TEXT NOT NULL, action INTEGER NOT NULL, grp INTEGER NOT NULL, "
            "server_id INTEGER NOT NULL, text TEXT NOT NULL);"
            "CREATE INDEX line_by_lang ON line (lang, seq);"
            "CREATE TABLE submission (id INTEGER PRIMARY KEY AUTOINCREMENT, "
            "access_id INTEGER NOT NULL, lang TEXT NOT NULL, action INTEGER NOT NULL, "
            "grp INTEGER NOT NULL, server_id INTEGER NOT NULL, own_id INTEGER NOT NULL, "
            "text TEXT NOT NULL, received INTEGER NOT NULL, state INTEGER NOT NULL, "
            "decided INTEGER);"
            "CREATE INDEX submission_by_state ON submission (state, id);"
            "INSERT INTO access (id, created) VALUES (7, 1);"
            "INSERT INTO message (server_id, lang, owner, live) VALUES (1, 'EN', 7, 0);"
            "INSERT INTO submission (access_id, lang, action, grp, server_id, own_id, text, "
            "received, state) VALUES (7, 'EN', 0, 1, 1, -1, 'Old upload', 1, 0);"
            "PRAGMA user_version = 1;";
        ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    try {
        TSqliteStore store(path);
        ADD_FAILURE() << "an outdated database was opened";
    } catch (const EStoreError& error) {
        EXPECT_NE(std::string(error.what()).find("pellora-exchange init"), std::string::npos);
    }
    TSqliteStore(path, TSqliteStore::TOpenMode::Create);
    TSqliteStore store(path);
    ASSERT_EQ(store.Pending().size(), 1u);
    // The id a client stored long ago still owns its message.
    TUploadResult change =
        store.AddDeltas(7, "EN", {{TMsgAction::Mod, 1, 1, -1, "Old upload, changed"}}, "x");
    EXPECT_EQ(change.Outcome, TUploadOutcome::Stored);
    EXPECT_EQ(store.Pending().size(), 2u);
}
