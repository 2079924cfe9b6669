#include "ExchangeStore.h"
#include "ExchangeErrors.h"
#include "core/MsgRecord.h"
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
          Store(Path, TExchangeStore::TOpenMode::Create, [this] { return Clock; }) {}

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
    TextList Replay(const std::string& language) {
        return ReplayJournal(Store.ReadLibrary(language).Lines, 0, true);
    }

    TempDir Dir;
    std::int64_t Clock = Start;
    std::string Path;
    TExchangeStore Store;
};

TDelta New(std::int32_t group, std::int32_t ownId, const std::string& text) {
    return {TMsgAction::New, group, 0, ownId, text};
}

} // namespace

TEST_F(ExchangeStoreTest, AccessIdsArePositiveAndNeverRepeat) {
    std::set<std::int32_t> seen;
    for (int i = 0; i < 20; ++i) {
        std::int32_t id = Store.RequestAccess();
        EXPECT_GT(id, 0);
        EXPECT_TRUE(seen.insert(id).second) << id;
    }
    // Reopening the file goes on from where it was.
    TExchangeStore again(Path);
    EXPECT_EQ(seen.count(again.RequestAccess()), 0u);
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
         }) {
        Clock += 10;
        EXPECT_THROW(Store.Import("EN", lines), EStoreError) << lines.back();
        // The same id in another language is taken too: server ids are global.
        EXPECT_THROW(Store.Import("DE", {"|NEW|1|5|||Fünf"}), EStoreError);
    }
    const TLibraryRead after = Store.ReadLibrary("EN");
    EXPECT_EQ(after.Lines, before.Lines);
    EXPECT_EQ(after.Modified, before.Modified);
    EXPECT_FALSE(Store.ReadLibrary("DE").Exists);
}

TEST_F(ExchangeStoreTest, NotModifiedOnlyWhenTheLibraryIsNotNewer) {
    Store.Import("EN", {"|NEW|1|1|||One"});
    EXPECT_TRUE(Store.ReadLibrary("EN", Start).NotModified);
    // A time this store has not reached cannot be one it handed out.
    EXPECT_FALSE(Store.ReadLibrary("EN", Start + 60).NotModified);
    Clock = Start + 60;
    EXPECT_TRUE(Store.ReadLibrary("EN", Start + 60).NotModified);
    TLibraryRead older = Store.ReadLibrary("EN", Start - 1);
    EXPECT_FALSE(older.NotModified);
    EXPECT_EQ(older.Lines.size(), 1u);
    EXPECT_TRUE(Store.ReadLibrary("EN", Start).Lines.empty());
}

TEST_F(ExchangeStoreTest, EveryChangeMovesLastModifiedForwardEvenWithinOneSecond) {
    Store.Import("EN", {"|NEW|1|1|||One"});
    // A client that downloaded in this very second holds Start; the next change must not
    // look as old as that.
    Store.Import("EN", {"|NEW|1|2|||Two"});
    TLibraryRead second = Store.ReadLibrary("EN", Start);
    EXPECT_FALSE(second.NotModified);
    EXPECT_EQ(second.Modified, Start + 1);
    EXPECT_EQ(second.Lines.size(), 2u);
    // The time handed out runs ahead of the clock now, and is still honoured.
    EXPECT_TRUE(Store.ReadLibrary("EN", Start + 1).NotModified);
    EXPECT_FALSE(Store.ReadLibrary("EN", Start + 2).NotModified);
    Clock = Start + 100;
    Store.Import("EN", {"|NEW|1|3|||Three"});
    EXPECT_EQ(Store.ReadLibrary("EN").Modified, Start + 100);
}

TEST_F(ExchangeStoreTest, UploadAssignsServerIdsAndAnswersEachLine) {
    Store.Import("EN", {"|NEW|1|40|||Seeded"});
    std::int32_t access = Store.RequestAccess();
    TUploadResult first = Store.AddDeltas(
        access, "EN", {New(1, -1, "Mine"), {TMsgAction::New, 2, 40, -2, "Claims a taken id"}});
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
    TUploadResult second = Store.AddDeltas(access, "EN",
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
    std::int32_t ann = Store.RequestAccess();
    std::int32_t bob = Store.RequestAccess();
    std::int32_t annsId =
        Record(Store.AddDeltas(ann, "EN", {New(1, -1, "Ann's")}).Lines[0]).ServerId;
    const std::size_t pending = Store.Pending().size();

    struct Case {
        std::int32_t Access;
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
        TUploadResult result =
            Store.AddDeltas(c.Access, c.Language, {New(1, -7, "Would be stored"), c.Change});
        EXPECT_EQ(result.Outcome, TUploadOutcome::Refused) << c.Change.Text;
        EXPECT_EQ(result.Accepted, 2);
        EXPECT_EQ(result.Appended, 0);
        EXPECT_EQ(result.New, 0);
        EXPECT_TRUE(result.Lines.empty());
        EXPECT_NE(result.Refusal.find(std::to_string(c.Change.ServerId)), std::string::npos)
            << result.Refusal;
    }
    EXPECT_EQ(Store.Pending().size(), pending);
    // The id handed out inside a refused upload was rolled back with it: nothing is lost.
    TMsgRecord next = Record(Store.AddDeltas(bob, "EN", {New(1, -1, "Bob's")}).Lines[0]);
    EXPECT_EQ(next.ServerId, annsId + 1);
}

TEST_F(ExchangeStoreTest, UnknownAccessIdStoresNothing) {
    TUploadResult result = Store.AddDeltas(12345, "EN", {New(1, -1, "x")});
    EXPECT_EQ(result.Outcome, TUploadOutcome::UnknownAccess);
    EXPECT_TRUE(result.Lines.empty());
    EXPECT_TRUE(Store.Pending().empty());
}

TEST_F(ExchangeStoreTest, ApprovalPublishesInArrivalOrderAndMovesLastModified) {
    Store.Import("EN", {"|NEW|1|1|||Seeded"});
    std::int32_t access = Store.RequestAccess();
    std::int32_t id =
        Record(Store.AddDeltas(access, "EN", {New(2, -1, "Fresh")}).Lines[0]).ServerId;
    Store.AddDeltas(access, "EN", {{TMsgAction::Mod, 2, id, -1, "Fresher"}});
    Store.AddDeltas(access, "NL", {New(3, -2, "Vers")});
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
    EXPECT_EQ(Store.ReadLibrary("EN").Modified, Start + 30);
    EXPECT_FALSE(Store.ReadLibrary("EN", Start).NotModified);
    EXPECT_EQ(Replay("NL").size(), 1u);

    // Deleting it later takes it out again.
    Store.AddDeltas(access, "EN", {{TMsgAction::Del, 2, id, -1, ""}});
    Clock += 30;
    Store.Approve(PendingIds());
    EXPECT_EQ(Replay("EN").size(), 1u);
    EXPECT_EQ(Store.ReadLibrary("EN").Modified, Start + 60);
}

TEST_F(ExchangeStoreTest, ApprovalAndRejectionAreAllOrNothing) {
    std::int32_t access = Store.RequestAccess();
    std::int32_t id = Record(Store.AddDeltas(access, "EN", {New(1, -1, "One")}).Lines[0]).ServerId;
    Store.AddDeltas(access, "EN", {{TMsgAction::Mod, 1, id, -1, "One, changed"}});
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
    EXPECT_THROW(TExchangeStore(dir / "missing.db"), EStoreError);
    EXPECT_EQ(test::GetFile(dir / "missing.db"), "<missing>");

    test::PutFile(dir / "text.db", "this is not a database at all, just some text\n");
    EXPECT_THROW(TExchangeStore(dir / "text.db"), EStoreError);
    EXPECT_THROW(TExchangeStore(dir / "text.db", TExchangeStore::TOpenMode::Create), EStoreError);
    EXPECT_EQ(test::GetFile(dir / "text.db"), "this is not a database at all, just some text\n");

    // An empty file is not an exchange database until it is set up.
    test::PutFile(dir / "empty.db", "");
    EXPECT_THROW(TExchangeStore(dir / "empty.db"), EStoreError);
    TExchangeStore(dir / "empty.db", TExchangeStore::TOpenMode::Create);
    EXPECT_NO_THROW(TExchangeStore(dir / "empty.db").RequestAccess());

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
    EXPECT_THROW(TExchangeStore(dir / "foreign.db", TExchangeStore::TOpenMode::Create),
                 EStoreError);
    EXPECT_EQ(test::GetFile(dir / "foreign.db"), foreign);

    // A damaged file gives an error, not a crash.
    {
        TExchangeStore made(dir / "ours.db", TExchangeStore::TOpenMode::Create);
        made.Import("EN", {"|NEW|1|1|||One"});
    }
    std::string ours = test::GetFile(dir / "ours.db");
    test::PutFile(dir / "damaged.db", ours.substr(0, 100) + std::string(ours.size() - 100, '\x5a'));
    EXPECT_THROW(TExchangeStore(dir / "damaged.db").ReadLibrary("EN"), EStoreError);
}
