#include "ExchangeStore.h"

#include "ExchangeErrors.h"
#include "HttpDate.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <algorithm>
#include <climits>
#include <ctime>
#include <set>
#include <sqlite3.h>

namespace pellora {

namespace {

constexpr int SchemaVersion = 1;
constexpr int BusyTimeoutMs = 5000;

// Tables. A message row exists for every server id ever handed out: who owns it (0 = seeded
// by the administrator), its language, and whether the public library currently holds it.
constexpr const char* SchemaStatements[] = {
    "CREATE TABLE access (id INTEGER PRIMARY KEY AUTOINCREMENT, created INTEGER NOT NULL)",
    "CREATE TABLE message (server_id INTEGER PRIMARY KEY AUTOINCREMENT, lang TEXT NOT NULL, "
    "owner INTEGER NOT NULL, live INTEGER NOT NULL)",
    "CREATE TABLE library (lang TEXT PRIMARY KEY, modified INTEGER NOT NULL) WITHOUT ROWID",
    "CREATE TABLE line (seq INTEGER PRIMARY KEY AUTOINCREMENT, lang TEXT NOT NULL, "
    "stamp TEXT NOT NULL, action INTEGER NOT NULL, grp INTEGER NOT NULL, "
    "server_id INTEGER NOT NULL, text TEXT NOT NULL)",
    "CREATE INDEX line_by_lang ON line (lang, seq)",
    "CREATE TABLE submission (id INTEGER PRIMARY KEY AUTOINCREMENT, "
    "access_id INTEGER NOT NULL, lang TEXT NOT NULL, action INTEGER NOT NULL, "
    "grp INTEGER NOT NULL, server_id INTEGER NOT NULL, own_id INTEGER NOT NULL, "
    "text TEXT NOT NULL, received INTEGER NOT NULL, state INTEGER NOT NULL, "
    "decided INTEGER)",
    "CREATE INDEX submission_by_state ON submission (state, id)",
    "PRAGMA user_version = 1",
};

[[noreturn]] void ThrowStore(sqlite3* db, int code, const std::string& what) {
    std::string text =
        "Exchange database: " + what + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
    int primary = code & 0xFF;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        throw EStoreBusy(text);
    throw EStoreError(text);
}

// One prepared statement; values are bound, never spliced into the text.
class TStatement {
public:
    TStatement(sqlite3* db, const char* sql) : Db(db) {
        int rc = sqlite3_prepare_v2(db, sql, -1, &Stmt, nullptr);
        if (rc != SQLITE_OK)
            ThrowStore(db, rc, "cannot prepare a statement");
    }
    ~TStatement() { sqlite3_finalize(Stmt); }
    TStatement(const TStatement&) = delete;
    TStatement& operator=(const TStatement&) = delete;

    TStatement& Bind(int index, std::int64_t value) {
        Check(sqlite3_bind_int64(Stmt, index, value));
        return *this;
    }
    TStatement& Bind(int index, std::string_view text) {
        Check(sqlite3_bind_text(Stmt, index, text.data(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    // True with a row to read, false when done.
    bool Step() {
        int rc = sqlite3_step(Stmt);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        ThrowStore(Db, rc, "statement failed");
    }
    void Run() {
        while (Step()) {
        }
    }
    std::int64_t Int(int column) const { return sqlite3_column_int64(Stmt, column); }
    std::string Text(int column) const {
        const unsigned char* text = sqlite3_column_text(Stmt, column);
        int size = sqlite3_column_bytes(Stmt, column);
        return text ? std::string(reinterpret_cast<const char*>(text), size) : std::string();
    }
    void Reset() {
        sqlite3_reset(Stmt);
        sqlite3_clear_bindings(Stmt);
    }

private:
    void Check(int rc) {
        if (rc != SQLITE_OK)
            ThrowStore(Db, rc, "cannot bind a value");
    }
    sqlite3* Db;
    sqlite3_stmt* Stmt = nullptr;
};

TMsgAction ActionFromInt(std::int64_t value) {
    switch (value) {
    case 1:
        return TMsgAction::Mod;
    case 2:
        return TMsgAction::Del;
    default:
        return TMsgAction::New;
    }
}

std::int64_t ActionToInt(TMsgAction action) {
    return action == TMsgAction::Mod ? 1 : action == TMsgAction::Del ? 2 : 0;
}

// Server and access ids travel as 32-bit numbers.
std::int32_t CheckedId(std::int64_t id, const char* what) {
    if (id <= 0 || id > INT32_MAX)
        throw EStoreError(Format("Exchange database: no more %s can be handed out", what));
    return static_cast<std::int32_t>(id);
}

std::string LibraryLine(const std::string& stamp, TMsgAction action, std::int32_t group,
                        std::int32_t serverId, std::int32_t ownId, const std::string& text) {
    TMsgRecord record;
    record.Stamp = stamp;
    record.Action = action;
    record.Group = group;
    record.ServerId = serverId;
    record.OwnId = ownId;
    record.Text = text;
    return FormatMsgRecord(record);
}

} // namespace

struct TExchangeStore::TImpl {
    sqlite3* Db = nullptr;
    TWallClock Clock;

    ~TImpl() {
        if (Db)
            sqlite3_close_v2(Db);
    }
    void Exec(const char* sql) { TStatement(Db, sql).Run(); }

    std::int64_t UserVersion() {
        TStatement version(Db, "PRAGMA user_version");
        return version.Step() ? version.Int(0) : 0;
    }
    std::int64_t TableCount() {
        TStatement tables(Db, "SELECT count(*) FROM sqlite_schema");
        return tables.Step() ? tables.Int(0) : 0;
    }

    // The library's last change moves forward by at least a second each time: clients send
    // back the time they were given, and a change in the same second as their download
    // would otherwise look old and be answered 304 for good.
    void Touch(const std::string& language, std::int64_t now) {
        TStatement get(Db, "SELECT modified FROM library WHERE lang = ?1");
        get.Bind(1, language);
        std::int64_t modified = now;
        if (get.Step())
            modified = std::max(now, get.Int(0) + 1);
        TStatement put(Db, "INSERT INTO library (lang, modified) VALUES (?1, ?2) "
                           "ON CONFLICT (lang) DO UPDATE SET modified = excluded.modified");
        put.Bind(1, language).Bind(2, modified).Run();
    }

    void AddLine(const std::string& language, const std::string& stamp, TMsgAction action,
                 std::int32_t group, std::int32_t serverId, const std::string& text) {
        TStatement add(Db, "INSERT INTO line (lang, stamp, action, grp, server_id, text) "
                           "VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
        add.Bind(1, language).Bind(2, stamp).Bind(3, ActionToInt(action)).Bind(4, group);
        add.Bind(5, serverId).Bind(6, text).Run();
    }
};

namespace {

// BEGIN IMMEDIATE for writers takes the write lock up front, so two writers never deadlock
// half-way; the destructor rolls back whatever was not committed.
class TTransaction {
public:
    TTransaction(sqlite3* db, bool write) : Db(db) {
        TStatement(db, write ? "BEGIN IMMEDIATE" : "BEGIN").Run();
    }
    ~TTransaction() {
        if (!Done) {
            sqlite3_stmt* rollback = nullptr;
            if (sqlite3_prepare_v2(Db, "ROLLBACK", -1, &rollback, nullptr) == SQLITE_OK)
                sqlite3_step(rollback);
            sqlite3_finalize(rollback);
        }
    }
    void Commit() {
        TStatement(Db, "COMMIT").Run();
        Done = true;
    }

private:
    sqlite3* Db;
    bool Done = false;
};

std::int64_t SystemClock() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

} // namespace

TExchangeStore::TExchangeStore(const std::string& path, TOpenMode mode, TWallClock clock)
    : Impl(std::make_unique<TImpl>()) {
    Impl->Clock = clock ? std::move(clock) : TWallClock(SystemClock);
    bool create = mode == TOpenMode::Create;
    if (!create && !PathExists(path))
        throw EStoreError("The exchange database " + path +
                          " does not exist; create it with 'pellora-exchange init'");
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    int rc = sqlite3_open_v2(path.c_str(), &Impl->Db, flags, nullptr);
    if (rc != SQLITE_OK)
        ThrowStore(Impl->Db, rc, "cannot open " + path);
    sqlite3_busy_timeout(Impl->Db, BusyTimeoutMs);

    std::int64_t version = Impl->UserVersion();
    if (version == SchemaVersion)
        return;
    if (version > SchemaVersion)
        throw EStoreError("The exchange database " + path + " was made by a newer version");
    if (!create)
        throw EStoreError("The file " + path +
                          " is not an exchange database; create one with 'pellora-exchange init'");
    if (Impl->TableCount() != 0)
        throw EStoreError("The file " + path + " is another program's database; it is left alone");
    // WAL lets downloads read while an upload writes; the mode stays with the file.
    Impl->Exec("PRAGMA journal_mode = WAL");
    TTransaction transaction(Impl->Db, true);
    // Another process may have set the file up meanwhile.
    if (Impl->TableCount() == 0)
        for (const char* statement : SchemaStatements)
            Impl->Exec(statement);
    transaction.Commit();
}

TExchangeStore::~TExchangeStore() = default;

std::int64_t TExchangeStore::Now() const {
    return Impl->Clock();
}

std::int32_t TExchangeStore::RequestAccess() {
    TTransaction transaction(Impl->Db, true);
    TStatement add(Impl->Db, "INSERT INTO access (created) VALUES (?1)");
    add.Bind(1, Now()).Run();
    std::int32_t id = CheckedId(sqlite3_last_insert_rowid(Impl->Db), "access ids");
    transaction.Commit();
    return id;
}

TLibraryRead TExchangeStore::ReadLibrary(const std::string& language,
                                         std::optional<std::int64_t> ifModifiedSince) {
    TLibraryRead result;
    // One read transaction: the lines and the time sent with them belong together.
    TTransaction transaction(Impl->Db, false);
    TStatement modified(Impl->Db, "SELECT modified FROM library WHERE lang = ?1");
    modified.Bind(1, language);
    if (!modified.Step())
        return result;
    result.Exists = true;
    result.Modified = modified.Int(0);
    // A time later than both the clock and the library's own last change (which runs ahead
    // of the clock after several changes in one second) cannot have come from here.
    if (ifModifiedSince && result.Modified <= *ifModifiedSince &&
        *ifModifiedSince <= std::max(Now(), result.Modified)) {
        result.NotModified = true;
        return result;
    }
    TStatement lines(Impl->Db, "SELECT stamp, action, grp, server_id, text FROM line "
                               "WHERE lang = ?1 ORDER BY seq");
    lines.Bind(1, language);
    while (lines.Step())
        result.Lines.push_back(LibraryLine(
            lines.Text(0), ActionFromInt(lines.Int(1)), static_cast<std::int32_t>(lines.Int(2)),
            static_cast<std::int32_t>(lines.Int(3)), 0, lines.Text(4)));
    transaction.Commit();
    return result;
}

TUploadResult TExchangeStore::AddDeltas(std::int32_t accessId, const std::string& language,
                                        const std::vector<TDelta>& deltas) {
    TUploadResult result;
    result.Accepted = static_cast<int>(deltas.size());
    TTransaction transaction(Impl->Db, true);
    TStatement access(Impl->Db, "SELECT 1 FROM access WHERE id = ?1");
    access.Bind(1, accessId);
    if (!access.Step()) {
        result.Outcome = TUploadOutcome::UnknownAccess;
        return result;
    }
    const std::int64_t now = Now();
    TStatement owner(Impl->Db, "SELECT lang, owner FROM message WHERE server_id = ?1");
    TStatement addMessage(Impl->Db, "INSERT INTO message (lang, owner, live) VALUES (?1, ?2, 0)");
    TStatement addSubmission(
        Impl->Db, "INSERT INTO submission (access_id, lang, action, grp, server_id, own_id, "
                  "text, received, state) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, 0)");
    for (const TDelta& delta : deltas) {
        std::int32_t serverId = delta.ServerId;
        if (delta.Action == TMsgAction::New) {
            addMessage.Reset();
            addMessage.Bind(1, language).Bind(2, accessId).Run();
            serverId = CheckedId(sqlite3_last_insert_rowid(Impl->Db), "server ids");
            ++result.New;
        } else {
            owner.Reset();
            owner.Bind(1, serverId);
            bool owned = owner.Step() && owner.Int(1) == accessId && owner.Text(0) == language;
            owner.Reset();
            if (!owned) {
                result.Outcome = TUploadOutcome::Refused;
                result.Refusal =
                    Format("%s of message %d refused: access id %d did not "
                           "upload it to the %s library",
                           MsgActionWord(delta.Action), serverId, accessId, language.c_str());
                result.New = 0;
                result.Lines.clear();
                return result; // the transaction rolls back
            }
        }
        addSubmission.Reset();
        addSubmission.Bind(1, accessId).Bind(2, language).Bind(3, ActionToInt(delta.Action));
        addSubmission.Bind(4, delta.Group).Bind(5, serverId).Bind(6, delta.OwnId);
        addSubmission.Bind(7, delta.Text).Bind(8, now).Run();
        std::int64_t submission = sqlite3_last_insert_rowid(Impl->Db);
        // The stamp names the submission, so an uploaded line can be traced to its review.
        std::string stamp =
            FormatIsoTime(now) + Format("#%lld", static_cast<long long>(submission));
        result.Lines.push_back(
            LibraryLine(stamp, delta.Action, delta.Group, serverId, delta.OwnId, delta.Text));
    }
    transaction.Commit();
    result.Appended = static_cast<int>(result.Lines.size());
    return result;
}

TImportResult TExchangeStore::Import(const std::string& language,
                                     const std::vector<std::string>& lines) {
    TImportResult result;
    TTransaction transaction(Impl->Db, true);
    const std::int64_t now = Now();
    const std::string stamp = FormatIsoTime(now);
    TStatement find(Impl->Db, "SELECT lang, live FROM message WHERE server_id = ?1");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (TrimView(line).empty())
            continue;
        auto fail = [&](const std::string& why) {
            throw EStoreError(Format("Line %zu: %s; nothing was imported", i + 1, why.c_str()));
        };
        TMsgRecord record;
        try {
            if (!ParseMsgRecord(line, record)) {
                ++result.Skipped;
                continue;
            }
        } catch (const EConvertError& error) {
            fail(error.what());
        }
        if (record.Text.find('\0') != std::string::npos)
            fail("the text holds a NUL byte");
        if (record.Group < FirstGroup || record.Group > LastGroup)
            fail(Format("the group %d is not one of 1 to 4", record.Group));

        find.Reset();
        find.Bind(1, record.ServerId);
        bool known = record.ServerId != 0 && find.Step();
        const std::string knownLanguage = known ? find.Text(0) : std::string();
        const bool knownLive = known && find.Int(1) != 0;
        find.Reset();
        if (record.Action == TMsgAction::New) {
            if (record.ServerId < 0)
                fail(Format("the server id %d is not positive", record.ServerId));
            if (known)
                fail(Format("the server id %d is already taken (%s)", record.ServerId,
                            knownLanguage.c_str()));
            TStatement add(Impl->Db, record.ServerId == 0
                                         ? "INSERT INTO message (lang, owner, live) "
                                           "VALUES (?1, 0, 1)"
                                         : "INSERT INTO message (server_id, lang, owner, live) "
                                           "VALUES (?2, ?1, 0, 1)");
            add.Bind(1, language);
            if (record.ServerId != 0)
                add.Bind(2, record.ServerId);
            add.Run();
            record.ServerId = CheckedId(sqlite3_last_insert_rowid(Impl->Db), "server ids");
        } else {
            if (knownLanguage != language || !knownLive) {
                ++result.Skipped;
                continue;
            }
            if (record.Action == TMsgAction::Del) {
                TStatement gone(Impl->Db, "UPDATE message SET live = 0 WHERE server_id = ?1");
                gone.Bind(1, record.ServerId).Run();
            }
        }
        Impl->AddLine(language, stamp, record.Action, record.Group, record.ServerId, record.Text);
        ++result.Added;
    }
    if (result.Added > 0)
        Impl->Touch(language, now);
    transaction.Commit();
    return result;
}

std::vector<TSubmission> TExchangeStore::Pending() {
    std::vector<TSubmission> result;
    TTransaction transaction(Impl->Db, false);
    TStatement pending(Impl->Db,
                       "SELECT id, access_id, lang, action, grp, server_id, own_id, text, "
                       "received FROM submission WHERE state = 0 ORDER BY id");
    while (pending.Step()) {
        TSubmission s;
        s.Id = pending.Int(0);
        s.AccessId = static_cast<std::int32_t>(pending.Int(1));
        s.Language = pending.Text(2);
        s.Action = ActionFromInt(pending.Int(3));
        s.Group = static_cast<std::int32_t>(pending.Int(4));
        s.ServerId = static_cast<std::int32_t>(pending.Int(5));
        s.OwnId = static_cast<std::int32_t>(pending.Int(6));
        s.Text = pending.Text(7);
        s.Received = pending.Int(8);
        result.push_back(std::move(s));
    }
    transaction.Commit();
    return result;
}

namespace {

// Ids in arrival order, each once.
std::vector<std::int64_t> Ordered(std::vector<std::int64_t> ids) {
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

const char* StateWord(std::int64_t state) {
    return state == 1 ? "approved" : "rejected";
}

} // namespace

std::vector<std::string> TExchangeStore::Approve(const std::vector<std::int64_t>& ids) {
    TTransaction transaction(Impl->Db, true);
    const std::int64_t now = Now();
    const std::string stamp = FormatIsoTime(now);
    std::set<std::string> changed;
    TStatement get(Impl->Db, "SELECT lang, action, grp, server_id, text, state "
                             "FROM submission WHERE id = ?1");
    TStatement live(Impl->Db, "SELECT live FROM message WHERE server_id = ?1");
    TStatement setLive(Impl->Db, "UPDATE message SET live = ?2 WHERE server_id = ?1");
    TStatement decide(Impl->Db, "UPDATE submission SET state = 1, decided = ?2 WHERE id = ?1");
    for (std::int64_t id : Ordered(ids)) {
        get.Reset();
        get.Bind(1, id);
        if (!get.Step())
            throw EStoreError(Format("There is no submission %lld; nothing was approved",
                                     static_cast<long long>(id)));
        if (get.Int(5) != 0)
            throw EStoreError(Format("Submission %lld was already %s; nothing was approved",
                                     static_cast<long long>(id), StateWord(get.Int(5))));
        const std::string language = get.Text(0);
        const TMsgAction action = ActionFromInt(get.Int(1));
        const auto group = static_cast<std::int32_t>(get.Int(2));
        const auto serverId = static_cast<std::int32_t>(get.Int(3));
        const std::string text = get.Text(4);
        get.Reset();

        live.Reset();
        live.Bind(1, serverId);
        bool inLibrary = live.Step() && live.Int(0) != 0;
        live.Reset();
        if (action != TMsgAction::New && !inLibrary)
            throw EStoreError(Format("Submission %lld changes message %d, which the %s library "
                                     "does not hold; approve the submission that adds it "
                                     "first or reject this one. Nothing was approved",
                                     static_cast<long long>(id), serverId, language.c_str()));
        if (action != TMsgAction::Mod) {
            setLive.Reset();
            setLive.Bind(1, serverId).Bind(2, action == TMsgAction::New ? 1 : 0).Run();
        }
        Impl->AddLine(language, stamp, action, group, serverId, text);
        decide.Reset();
        decide.Bind(1, id).Bind(2, now).Run();
        changed.insert(language);
    }
    for (const std::string& language : changed)
        Impl->Touch(language, now);
    transaction.Commit();
    return {changed.begin(), changed.end()};
}

void TExchangeStore::Reject(const std::vector<std::int64_t>& ids) {
    TTransaction transaction(Impl->Db, true);
    const std::int64_t now = Now();
    TStatement get(Impl->Db, "SELECT state FROM submission WHERE id = ?1");
    TStatement decide(Impl->Db, "UPDATE submission SET state = 2, decided = ?2 WHERE id = ?1");
    for (std::int64_t id : Ordered(ids)) {
        get.Reset();
        get.Bind(1, id);
        if (!get.Step())
            throw EStoreError(Format("There is no submission %lld; nothing was rejected",
                                     static_cast<long long>(id)));
        if (get.Int(0) != 0)
            throw EStoreError(Format("Submission %lld was already %s; nothing was rejected",
                                     static_cast<long long>(id), StateWord(get.Int(0))));
        get.Reset();
        decide.Reset();
        decide.Bind(1, id).Bind(2, now).Run();
    }
    transaction.Commit();
}

} // namespace pellora
