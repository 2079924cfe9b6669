#include "ExchangeStore.h"

#include "ExchangeErrors.h"
#include "HttpDate.h"
#include "platform/Errors.h"
#include "platform/FileUtil.h"
#include "platform/StrUtils.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <ctime>
#include <map>
#include <set>
#include <sqlite3.h>
#include <sys/random.h>

namespace pellora {

namespace {

constexpr int SchemaVersion = 2;
constexpr int BusyTimeoutMs = 5000;
constexpr std::int64_t SecondsPerDay = 86400;
// What a pending row costs beyond its text, for the review queue's size cap.
constexpr std::int64_t RowOverhead = 100;

// The first version's tables. A message row exists for every server id handed out: who owns
// it (0 = seeded by the administrator), its language, and whether the public library
// currently holds it.
constexpr const char* FirstSchema[] = {
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
};

// The second version: client addresses, a change counter per library and whether its time
// was handed out within its own second, daily counts for the
// limits, the last answer per access id and language for retries, the limits themselves and
// the size of the review queue.
constexpr const char* SecondSchema[] = {
    "ALTER TABLE access ADD COLUMN address TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE library ADD COLUMN changes INTEGER NOT NULL DEFAULT 0",
    "ALTER TABLE library ADD COLUMN shown INTEGER NOT NULL DEFAULT 0",
    "ALTER TABLE submission ADD COLUMN address TEXT NOT NULL DEFAULT ''",
    "CREATE INDEX submission_by_owner ON submission (access_id, lang, own_id)",
    "CREATE INDEX line_by_server ON line (server_id)",
    "CREATE TABLE usage (who TEXT NOT NULL, day INTEGER NOT NULL, count INTEGER NOT NULL, "
    "PRIMARY KEY (who, day)) WITHOUT ROWID",
    "CREATE TABLE retry (access_id INTEGER NOT NULL, lang TEXT NOT NULL, body TEXT NOT NULL, "
    "reply TEXT NOT NULL, new INTEGER NOT NULL, received INTEGER NOT NULL, "
    "PRIMARY KEY (access_id, lang)) WITHOUT ROWID",
    "CREATE TABLE setting (name TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID",
    "CREATE TABLE tally (name TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID",
    "INSERT INTO tally (name, value) SELECT 'queue_bytes', "
    "coalesce(sum(length(CAST(text AS BLOB)) + 100), 0) FROM submission WHERE state = 0",
    "PRAGMA user_version = 2",
};

[[noreturn]] void ThrowStore(sqlite3* db, int code, const std::string& what) {
    std::string text =
        "Exchange database: " + what + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(code));
    switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_FULL:
    case SQLITE_READONLY:
    case SQLITE_IOERR:
        throw EStoreBusy(text);
    default:
        throw EStoreError(text);
    }
}

// One prepared statement; values are bound, never spliced into the text.
class TStatement {
public:
    TStatement(sqlite3* db, const char* sql) : Db(db) {
        int rc = sqlite3_prepare_v2(db, sql, -1, &Stmt, nullptr);
        if (rc != SQLITE_OK)
            ThrowStore(db, rc, "cannot prepare a statement");
    }
    // A statement prepared once and kept by the connection; only reset afterwards.
    TStatement(sqlite3* db, sqlite3_stmt* kept) : Db(db), Stmt(kept), Owned(false) {}
    ~TStatement() {
        if (Owned) {
            sqlite3_finalize(Stmt);
        } else {
            sqlite3_reset(Stmt);
            sqlite3_clear_bindings(Stmt);
        }
    }
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
    bool Owned = true;
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

// Server ids travel as 32-bit numbers.
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

// The stamp names the submission, so an uploaded line can be traced to its review.
std::string SubmissionStamp(std::int64_t received, std::int64_t submission) {
    return FormatIsoTime(received) + Format("#%lld", static_cast<long long>(submission));
}

std::int64_t SecondsToNextDay(std::int64_t now) {
    return SecondsPerDay - ((now % SecondsPerDay) + SecondsPerDay) % SecondsPerDay;
}

std::int64_t RandomId(bool narrow) {
    std::uint64_t bits = 0;
    std::size_t done = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(&bits);
    while (done < sizeof bits) {
        ssize_t got = getrandom(bytes + done, sizeof bits - done, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw EStoreError("No random numbers for access ids: the system refused them");
        }
        done += static_cast<std::size_t>(got);
    }
    if (narrow)
        return 1 + static_cast<std::int64_t>(bits % (FirstWideAccessId - 1));
    return FirstWideAccessId + static_cast<std::int64_t>(bits % (INT64_MAX - FirstWideAccessId));
}

struct TLimitField {
    const char* Name;
    std::int64_t TExchangeLimits::*Field;
};

constexpr TLimitField LimitFields[] = {
    {"upload-lines", &TExchangeLimits::UploadLines},
    {"access-lines-per-day", &TExchangeLimits::AccessLinesPerDay},
    {"address-lines-per-day", &TExchangeLimits::AddressLinesPerDay},
    {"address-access-per-day", &TExchangeLimits::AddressAccessPerDay},
    {"queue-bytes", &TExchangeLimits::QueueBytes},
    {"database-megabytes", &TExchangeLimits::DatabaseMegabytes},
    {"narrow-access-ids", &TExchangeLimits::NarrowAccessIds},
};

} // namespace

std::vector<std::pair<std::string, std::int64_t>> NamedLimits(const TExchangeLimits& limits) {
    std::vector<std::pair<std::string, std::int64_t>> named;
    for (const TLimitField& field : LimitFields)
        named.emplace_back(field.Name, limits.*field.Field);
    return named;
}

bool SetNamedLimit(TExchangeLimits& limits, const std::string& name, std::int64_t value) {
    for (const TLimitField& field : LimitFields)
        if (name == field.Name) {
            limits.*field.Field = value;
            return true;
        }
    return false;
}

struct TSqliteStore::TImpl {
    sqlite3* Db = nullptr;
    TWallClock Clock;
    // Statements of the download path, prepared once: a persistent program answers many.
    std::map<const char*, sqlite3_stmt*> Kept;
    // The lines of each library as last read, with the change counter they belong to.
    std::map<std::string, std::pair<std::int64_t, std::vector<std::string>>> Libraries;

    ~TImpl() {
        for (auto& [sql, statement] : Kept)
            sqlite3_finalize(statement);
        if (Db)
            sqlite3_close_v2(Db);
    }
    TStatement KeptStatement(const char* sql) {
        sqlite3_stmt*& statement = Kept[sql];
        if (!statement) {
            int rc =
                sqlite3_prepare_v3(Db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
            if (rc != SQLITE_OK) {
                Kept.erase(sql);
                ThrowStore(Db, rc, "cannot prepare a statement");
            }
        }
        return TStatement(Db, statement);
    }
    void Exec(const char* sql) { TStatement(Db, sql).Run(); }

    // The library's lines, read again only when its change counter moved.
    const std::vector<std::string>& CachedLines(const std::string& language, std::int64_t changes) {
        static constexpr const char* Lines =
            "SELECT stamp, action, grp, server_id, text FROM line WHERE lang = ?1 ORDER BY seq";
        auto& cached = Libraries[language];
        if (cached.first == changes && !cached.second.empty())
            return cached.second;
        cached.second.clear();
        TStatement lines = KeptStatement(Lines);
        lines.Bind(1, language);
        while (lines.Step())
            cached.second.push_back(LibraryLine(
                lines.Text(0), ActionFromInt(lines.Int(1)), static_cast<std::int32_t>(lines.Int(2)),
                static_cast<std::int32_t>(lines.Int(3)), 0, lines.Text(4)));
        cached.first = changes;
        return cached.second;
    }

    // A shipped message's server id (0: the next free one); the id it got.
    std::int32_t AddImportedMessage(const std::string& language, std::int32_t serverId,
                                    std::size_t lineNumber);

    std::int64_t Scalar(const char* sql, std::int64_t otherwise = 0) {
        TStatement query(Db, sql);
        return query.Step() ? query.Int(0) : otherwise;
    }

    TExchangeLimits ReadLimits() {
        TExchangeLimits limits;
        TStatement query(Db, "SELECT name, value FROM setting");
        while (query.Step())
            SetNamedLimit(limits, query.Text(0), query.Int(1));
        return limits;
    }

    // The limits in force for a change, with the file's size cap applied to this connection.
    TExchangeLimits WriteLimits() {
        TExchangeLimits limits = ReadLimits();
        std::int64_t pageSize = Scalar("PRAGMA page_size", 4096);
        std::int64_t pages = std::max<std::int64_t>(1, limits.DatabaseMegabytes) * (1 << 20) /
                             std::max<std::int64_t>(512, pageSize);
        Exec(Format("PRAGMA max_page_count = %lld", static_cast<long long>(pages)).c_str());
        return limits;
    }

    std::int64_t Usage(const std::string& who, std::int64_t day) {
        TStatement get(Db, "SELECT count FROM usage WHERE who = ?1 AND day = ?2");
        get.Bind(1, who).Bind(2, day);
        return get.Step() ? get.Int(0) : 0;
    }
    void AddUsage(const std::string& who, std::int64_t day, std::int64_t count) {
        TStatement add(Db, "INSERT INTO usage (who, day, count) VALUES (?1, ?2, ?3) "
                           "ON CONFLICT (who, day) DO UPDATE SET count = count + excluded.count");
        add.Bind(1, who).Bind(2, day).Bind(3, count).Run();
    }
    void AddQueueBytes(std::int64_t bytes) {
        TStatement add(Db, "UPDATE tally SET value = max(0, value + ?1) WHERE name = "
                           "'queue_bytes'");
        add.Bind(1, bytes).Run();
    }

    // The library's version time: the second of its last change. Only when that time was
    // already handed out to a client within the same second does a further change in it take
    // the next second, so that client's copy looks old; that time is not handed out before
    // the clock reaches it.
    void Touch(const std::string& language, std::int64_t now) {
        TStatement put(Db, "INSERT INTO library (lang, modified, changes, shown) "
                           "VALUES (?1, ?2, 1, 0) ON CONFLICT (lang) DO UPDATE SET "
                           "modified = CASE WHEN modified < excluded.modified "
                           "THEN excluded.modified WHEN shown THEN modified + 1 "
                           "ELSE modified END, changes = changes + 1, shown = 0");
        put.Bind(1, language).Bind(2, now).Run();
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
    // Takes over a transaction the caller began; rolls it back unless released.
    explicit TTransaction(sqlite3* db) : Db(db) {}
    void Release() { Done = true; }
    ~TTransaction() { Rollback(); }
    void Rollback() {
        if (!Done) {
            sqlite3_stmt* rollback = nullptr;
            if (sqlite3_prepare_v2(Db, "ROLLBACK", -1, &rollback, nullptr) == SQLITE_OK)
                sqlite3_step(rollback);
            sqlite3_finalize(rollback);
            Done = true;
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

// The deltas as one text, to tell a repeated upload from a new one.
std::string CanonicalUpload(const std::vector<TDelta>& deltas) {
    std::string text;
    for (const TDelta& d : deltas)
        text += Format("%s|%d|%d|%d|", MsgActionWord(d.Action), d.Group, d.ServerId, d.OwnId) +
                d.Text + "\n";
    return text;
}

} // namespace

TSqliteStore::TSqliteStore(const std::string& path, TOpenMode mode, TWallClock clock)
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
    // In WAL mode a commit is safe from crashes of the program without waiting for the disk;
    // a power cut can only lose the last moments, and clients send those again.
    Impl->Exec("PRAGMA synchronous = NORMAL");

    std::int64_t version = Impl->Scalar("PRAGMA user_version");
    if (version == SchemaVersion)
        return;
    if (version > SchemaVersion)
        throw EStoreError("The exchange database " + path + " was made by a newer version");
    if (!create)
        throw EStoreError(version == 0 ? "The file " + path +
                                             " is not an exchange database; create one with "
                                             "'pellora-exchange init'"
                                       : "The exchange database " + path +
                                             " is from an older version; bring it up to date "
                                             "with 'pellora-exchange init'");
    if (version == 0 && Impl->Scalar("SELECT count(*) FROM sqlite_schema") != 0)
        throw EStoreError("The file " + path + " is another program's database; it is left alone");
    // WAL lets downloads read while an upload writes; the mode stays with the file.
    Impl->Exec("PRAGMA journal_mode = WAL");
    TTransaction transaction(Impl->Db, true);
    // Another process may have set the file up meanwhile.
    version = Impl->Scalar("PRAGMA user_version");
    if (version == 0 && Impl->Scalar("SELECT count(*) FROM sqlite_schema") == 0) {
        for (const char* statement : FirstSchema)
            Impl->Exec(statement);
        version = 1;
    }
    if (version == 1)
        for (const char* statement : SecondSchema)
            Impl->Exec(statement);
    transaction.Commit();
}

TSqliteStore::~TSqliteStore() = default;

std::int64_t TSqliteStore::Now() const {
    return Impl->Clock();
}

TExchangeLimits TSqliteStore::Limits() {
    return Impl->ReadLimits();
}

void TSqliteStore::SetLimits(const TExchangeLimits& limits) {
    TTransaction transaction(Impl->Db, true);
    TStatement put(Impl->Db, "INSERT INTO setting (name, value) VALUES (?1, ?2) "
                             "ON CONFLICT (name) DO UPDATE SET value = excluded.value");
    for (const auto& [name, value] : NamedLimits(limits)) {
        put.Reset();
        put.Bind(1, name).Bind(2, value).Run();
    }
    transaction.Commit();
}

TAccessId TSqliteStore::RequestAccess(const std::string& address, bool narrow) {
    TTransaction transaction(Impl->Db, true);
    const TExchangeLimits limits = Impl->WriteLimits();
    const std::int64_t now = Now();
    const std::int64_t day = now / SecondsPerDay;
    const std::string who = "access:" + address;
    if (Impl->Usage(who, day) >= limits.AddressAccessPerDay)
        throw ELimitError(429,
                          Format("address-access-per-day=%lld",
                                 static_cast<long long>(limits.AddressAccessPerDay)),
                          static_cast<int>(SecondsToNextDay(now)),
                          "This address has asked for enough access ids today");
    TStatement add(Impl->Db,
                   "INSERT OR IGNORE INTO access (id, created, address) VALUES (?1, ?2, ?3)");
    TAccessId id = 0;
    for (;;) {
        id = RandomId(narrow);
        add.Reset();
        add.Bind(1, id).Bind(2, now).Bind(3, address).Run();
        if (sqlite3_changes(Impl->Db) == 1)
            break;
    }
    Impl->AddUsage(who, day, 1);
    transaction.Commit();
    return id;
}

TLibraryRead TSqliteStore::ReadLibrary(const std::string& language,
                                       std::optional<std::int64_t> ifModifiedSince) {
    static constexpr const char* Begin = "BEGIN";
    static constexpr const char* BeginWrite = "BEGIN IMMEDIATE";
    static constexpr const char* Commit = "COMMIT";
    static constexpr const char* Version =
        "SELECT modified, shown, changes FROM library WHERE lang = ?1";
    const std::int64_t now = Now();
    // A version time handed out within its own second must be recorded as handed out (see
    // Touch); that takes a write, needed only for a download in the second of a change.
    for (bool write : {false, true}) {
        TLibraryRead result;
        Impl->KeptStatement(write ? BeginWrite : Begin).Run();
        TTransaction transaction(Impl->Db);
        TStatement version = Impl->KeptStatement(Version);
        version.Bind(1, language);
        if (!version.Step())
            return result;
        const std::int64_t modified = version.Int(0);
        const bool shown = version.Int(1) != 0;
        const std::int64_t changes = version.Int(2);
        result.Exists = true;
        // A time ahead of the clock is never sent: the second before now is, which the
        // client's next download finds older than the library.
        result.Modified = modified <= now ? modified : now - 1;
        if (modified == now && !shown) {
            if (!write)
                continue;
            try {
                TStatement mark(Impl->Db, "UPDATE library SET shown = 1 WHERE lang = ?1");
                mark.Bind(1, language).Run();
            } catch (const EStoreBusy&) {
                // Not recorded (a read-only or full database): an earlier time is as safe.
                result.Modified = now - 1;
            }
        }
        // No time later than the clock was handed out by this store.
        if (ifModifiedSince && modified <= *ifModifiedSince && *ifModifiedSince <= now)
            result.NotModified = true;
        else
            result.Lines = Impl->CachedLines(language, changes);
        Impl->KeptStatement(Commit).Run();
        transaction.Release();
        return result;
    }
    return {};
}

TUploadResult TSqliteStore::AddDeltas(TAccessId accessId, const std::string& language,
                                      const std::vector<TDelta>& deltas,
                                      const std::string& address) {
    TUploadResult result;
    result.Accepted = static_cast<int>(deltas.size());
    if (deltas.empty())
        return result;
    TTransaction transaction(Impl->Db, true);
    const TExchangeLimits limits = Impl->WriteLimits();
    const std::int64_t count = static_cast<std::int64_t>(deltas.size());
    if (count > limits.UploadLines)
        throw ELimitError(
            413, Format("upload-lines=%lld", static_cast<long long>(limits.UploadLines)), 0,
            Format("An upload holds at most %lld lines",
                   static_cast<long long>(limits.UploadLines)));
    const std::int64_t now = Now();
    const std::int64_t day = now / SecondsPerDay;
    const int retryAfter = static_cast<int>(SecondsToNextDay(now));

    // The same upload again: the client lost the answer and gets it once more.
    const std::string body = CanonicalUpload(deltas);
    {
        TStatement last(Impl->Db,
                        "SELECT body, reply, new FROM retry WHERE access_id = ?1 AND lang = ?2");
        last.Bind(1, accessId).Bind(2, language);
        if (last.Step() && last.Text(0) == body) {
            result.Lines = SplitTextLines(last.Text(1));
            result.New = static_cast<int>(last.Int(2));
            result.Appended = static_cast<int>(result.Lines.size());
            return result;
        }
    }

    const std::string byAddress = "address:" + address;
    if (Impl->Usage(byAddress, day) + count > limits.AddressLinesPerDay)
        throw ELimitError(
            429,
            Format("address-lines-per-day=%lld", static_cast<long long>(limits.AddressLinesPerDay)),
            retryAfter, "This address has sent enough lines today");

    // Which deltas are NEWs stored before (their submission), which are refused.
    struct TPlan {
        std::int64_t Earlier = 0;
        std::int32_t ServerId = 0;
        std::int64_t Received = 0;
    };
    std::vector<TPlan> plans(deltas.size());
    TStatement access(Impl->Db, "SELECT 1 FROM access WHERE id = ?1");
    access.Bind(1, accessId);
    bool refused = !access.Step();
    TStatement earlier(Impl->Db,
                       "SELECT id, server_id, received FROM submission WHERE access_id = ?1 "
                       "AND lang = ?2 AND own_id = ?3 AND action = 0 AND grp = ?4 AND text = ?5 "
                       "ORDER BY id LIMIT 1");
    TStatement owner(Impl->Db, "SELECT 1 FROM message WHERE server_id = ?1 AND owner = ?2 "
                               "AND lang = ?3");
    std::int64_t fresh = 0, freshBytes = 0;
    for (std::size_t i = 0; i < deltas.size() && !refused; ++i) {
        const TDelta& delta = deltas[i];
        if (delta.Action == TMsgAction::New) {
            earlier.Reset();
            earlier.Bind(1, accessId).Bind(2, language).Bind(3, delta.OwnId);
            earlier.Bind(4, delta.Group).Bind(5, delta.Text);
            if (earlier.Step()) {
                plans[i] = {earlier.Int(0), static_cast<std::int32_t>(earlier.Int(1)),
                            earlier.Int(2)};
                continue;
            }
        } else {
            owner.Reset();
            owner.Bind(1, delta.ServerId).Bind(2, accessId).Bind(3, language);
            refused = !owner.Step();
        }
        ++fresh;
        freshBytes += static_cast<std::int64_t>(delta.Text.size()) + RowOverhead;
    }
    if (refused) {
        // Whatever was wrong, the client learns only that it was refused; guesses still
        // count against its address.
        transaction.Rollback();
        TTransaction count(Impl->Db, true);
        Impl->AddUsage(byAddress, day, static_cast<std::int64_t>(deltas.size()));
        count.Commit();
        result.Outcome = TUploadOutcome::Refused;
        return result;
    }

    const std::string byAccess = Format("id:%lld", static_cast<long long>(accessId));
    if (Impl->Usage(byAccess, day) + fresh > limits.AccessLinesPerDay)
        throw ELimitError(
            429,
            Format("access-lines-per-day=%lld", static_cast<long long>(limits.AccessLinesPerDay)),
            retryAfter, "This access id has sent enough lines today");
    if (Impl->Scalar("SELECT value FROM tally WHERE name = 'queue_bytes'") + freshBytes >
        limits.QueueBytes)
        throw ELimitError(503,
                          Format("queue-bytes=%lld", static_cast<long long>(limits.QueueBytes)),
                          3600, "The review queue is full; try again later");

    TStatement addMessage(Impl->Db, "INSERT INTO message (lang, owner, live) VALUES (?1, ?2, 0)");
    TStatement addSubmission(
        Impl->Db, "INSERT INTO submission (access_id, lang, action, grp, server_id, own_id, "
                  "text, received, state, address) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, 0, ?9)");
    for (std::size_t i = 0; i < deltas.size(); ++i) {
        const TDelta& delta = deltas[i];
        TPlan plan = plans[i];
        if (plan.Earlier == 0) {
            plan.ServerId = delta.ServerId;
            plan.Received = now;
            if (delta.Action == TMsgAction::New) {
                addMessage.Reset();
                addMessage.Bind(1, language).Bind(2, accessId).Run();
                plan.ServerId = CheckedId(sqlite3_last_insert_rowid(Impl->Db), "server ids");
            }
            addSubmission.Reset();
            addSubmission.Bind(1, accessId).Bind(2, language).Bind(3, ActionToInt(delta.Action));
            addSubmission.Bind(4, delta.Group).Bind(5, plan.ServerId).Bind(6, delta.OwnId);
            addSubmission.Bind(7, delta.Text).Bind(8, now).Bind(9, address).Run();
            plan.Earlier = sqlite3_last_insert_rowid(Impl->Db);
        }
        if (delta.Action == TMsgAction::New)
            ++result.New;
        result.Lines.push_back(LibraryLine(SubmissionStamp(plan.Received, plan.Earlier),
                                           delta.Action, delta.Group, plan.ServerId, delta.OwnId,
                                           delta.Text));
    }
    Impl->AddUsage(byAddress, day, count);
    Impl->AddUsage(byAccess, day, fresh);
    Impl->AddQueueBytes(freshBytes);
    TStatement remember(Impl->Db,
                        "INSERT INTO retry (access_id, lang, body, reply, new, received) "
                        "VALUES (?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT (access_id, lang) DO UPDATE "
                        "SET body = excluded.body, reply = excluded.reply, new = excluded.new, "
                        "received = excluded.received");
    remember.Bind(1, accessId).Bind(2, language).Bind(3, body);
    remember.Bind(4, JoinTextLines(result.Lines)).Bind(5, result.New).Bind(6, now).Run();
    transaction.Commit();
    result.Appended = static_cast<int>(result.Lines.size());
    return result;
}

namespace {

[[noreturn]] void FailImport(std::size_t lineNumber, const std::string& why) {
    throw EStoreError(Format("Line %zu: %s; nothing was imported", lineNumber, why.c_str()));
}

// The record of one journal line to import; false for a line that is no record (skipped).
bool ReadImportLine(const std::string& line, std::size_t lineNumber, TMsgRecord& record) {
    try {
        if (!ParseMsgRecord(line, record))
            return false;
    } catch (const EConvertError& error) {
        FailImport(lineNumber, error.what());
    }
    if (const char* problem = MessageTextProblem(record.Text))
        FailImport(lineNumber, problem);
    if (record.Group < FirstGroup || record.Group > LastGroup)
        FailImport(lineNumber, Format("the group %d is not one of 1 to 4", record.Group));
    return true;
}

} // namespace

std::int32_t TSqliteStore::TImpl::AddImportedMessage(const std::string& language,
                                                     std::int32_t serverId,
                                                     std::size_t lineNumber) {
    if (serverId < 0)
        FailImport(lineNumber, Format("the server id %d is not positive", serverId));
    if (serverId > MaxImportedServerId)
        FailImport(lineNumber, Format("the server id %d is above %d, which would leave too few "
                                      "ids for uploads",
                                      serverId, MaxImportedServerId));
    TStatement add(Db, serverId == 0 ? "INSERT INTO message (lang, owner, live) "
                                       "VALUES (?1, 0, 1)"
                                     : "INSERT INTO message (server_id, lang, owner, live) "
                                       "VALUES (?2, ?1, 0, 1)");
    add.Bind(1, language);
    if (serverId != 0)
        add.Bind(2, serverId);
    add.Run();
    return CheckedId(sqlite3_last_insert_rowid(Db), "server ids");
}

TImportResult TSqliteStore::Import(const std::string& language,
                                   const std::vector<std::string>& lines) {
    TImportResult result;
    TTransaction transaction(Impl->Db, true);
    Impl->WriteLimits();
    const std::int64_t now = Now();
    const std::string stamp = FormatIsoTime(now);
    TStatement find(Impl->Db, "SELECT lang, live FROM message WHERE server_id = ?1");
    for (std::size_t i = 0; i < lines.size(); ++i) {
        TMsgRecord record;
        if (TrimView(lines[i]).empty())
            continue;
        if (!ReadImportLine(lines[i], i + 1, record)) {
            ++result.Skipped;
            continue;
        }
        find.Reset();
        find.Bind(1, record.ServerId);
        const bool known = record.ServerId != 0 && find.Step();
        const std::string knownLanguage = known ? find.Text(0) : std::string();
        const bool knownLive = known && find.Int(1) != 0;
        find.Reset();
        if (record.Action == TMsgAction::New) {
            if (known)
                FailImport(i + 1, Format("the server id %d is already taken (%s)", record.ServerId,
                                         knownLanguage.c_str()));
            record.ServerId = Impl->AddImportedMessage(language, record.ServerId, i + 1);
        } else if (knownLanguage != language || !knownLive) {
            ++result.Skipped;
            continue;
        } else if (record.Action == TMsgAction::Del) {
            TStatement gone(Impl->Db, "UPDATE message SET live = 0 WHERE server_id = ?1");
            gone.Bind(1, record.ServerId).Run();
        }
        Impl->AddLine(language, stamp, record.Action, record.Group, record.ServerId, record.Text);
        ++result.Added;
    }
    if (result.Added > 0)
        Impl->Touch(language, now);
    transaction.Commit();
    return result;
}

std::vector<TSubmission> TSqliteStore::Pending() {
    std::vector<TSubmission> result;
    TTransaction transaction(Impl->Db, false);
    TStatement pending(Impl->Db,
                       "SELECT id, access_id, lang, action, grp, server_id, own_id, text, "
                       "received, address FROM submission WHERE state = 0 ORDER BY id");
    while (pending.Step()) {
        TSubmission s;
        s.Id = pending.Int(0);
        s.AccessId = pending.Int(1);
        s.Language = pending.Text(2);
        s.Action = ActionFromInt(pending.Int(3));
        s.Group = static_cast<std::int32_t>(pending.Int(4));
        s.ServerId = static_cast<std::int32_t>(pending.Int(5));
        s.OwnId = static_cast<std::int32_t>(pending.Int(6));
        s.Text = pending.Text(7);
        s.Received = pending.Int(8);
        s.Address = pending.Text(9);
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

std::vector<std::string> TSqliteStore::Approve(const std::vector<std::int64_t>& ids) {
    TTransaction transaction(Impl->Db, true);
    Impl->WriteLimits();
    const std::int64_t now = Now();
    const std::string stamp = FormatIsoTime(now);
    std::set<std::string> changed;
    TStatement get(Impl->Db, "SELECT lang, action, grp, server_id, text, state "
                             "FROM submission WHERE id = ?1");
    TStatement live(Impl->Db, "SELECT live FROM message WHERE server_id = ?1");
    TStatement setLive(Impl->Db, "UPDATE message SET live = ?2 WHERE server_id = ?1");
    TStatement decide(Impl->Db, "UPDATE submission SET state = 1, decided = ?2 WHERE id = ?1");
    std::int64_t bytes = 0;
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
        bytes += static_cast<std::int64_t>(text.size()) + RowOverhead;
        changed.insert(language);
    }
    for (const std::string& language : changed)
        Impl->Touch(language, now);
    Impl->AddQueueBytes(-bytes);
    transaction.Commit();
    return {changed.begin(), changed.end()};
}

void TSqliteStore::Reject(const std::vector<std::int64_t>& ids) {
    // Rejecting only shrinks the queue, so it runs without the size cap: it must work on a
    // database that has reached it.
    TTransaction transaction(Impl->Db, true);
    const std::int64_t now = Now();
    TStatement get(Impl->Db, "SELECT state, length(CAST(text AS BLOB)) FROM submission "
                             "WHERE id = ?1");
    TStatement decide(Impl->Db, "UPDATE submission SET state = 2, decided = ?2 WHERE id = ?1");
    std::int64_t bytes = 0;
    for (std::int64_t id : Ordered(ids)) {
        get.Reset();
        get.Bind(1, id);
        if (!get.Step())
            throw EStoreError(Format("There is no submission %lld; nothing was rejected",
                                     static_cast<long long>(id)));
        if (get.Int(0) != 0)
            throw EStoreError(Format("Submission %lld was already %s; nothing was rejected",
                                     static_cast<long long>(id), StateWord(get.Int(0))));
        bytes += get.Int(1) + RowOverhead;
        get.Reset();
        decide.Reset();
        decide.Bind(1, id).Bind(2, now).Run();
    }
    Impl->AddQueueBytes(-bytes);
    transaction.Commit();
}

int TSqliteStore::RejectAccess(TAccessId accessId) {
    TTransaction transaction(Impl->Db, true);
    TStatement bytes(Impl->Db, "SELECT count(*), coalesce(sum(length(CAST(text AS BLOB))), 0) "
                               "FROM submission WHERE access_id = ?1 AND state = 0");
    bytes.Bind(1, accessId);
    bytes.Step();
    const std::int64_t rows = bytes.Int(0);
    Impl->AddQueueBytes(-(bytes.Int(1) + rows * RowOverhead));
    TStatement decide(Impl->Db, "UPDATE submission SET state = 2, decided = ?2 "
                                "WHERE access_id = ?1 AND state = 0");
    decide.Bind(1, accessId).Bind(2, Now()).Run();
    transaction.Commit();
    return static_cast<int>(rows);
}

TPurgeResult TSqliteStore::Purge(int days) {
    TPurgeResult result;
    TTransaction transaction(Impl->Db, true);
    const std::int64_t now = Now();
    const std::int64_t cutoff = now - static_cast<std::int64_t>(days) * SecondsPerDay;
    TStatement submissions(Impl->Db, "DELETE FROM submission WHERE state = 2 "
                                     "OR (state = 1 AND decided < ?1)");
    submissions.Bind(1, cutoff).Run();
    result.Submissions = sqlite3_changes(Impl->Db);
    TStatement retries(Impl->Db, "DELETE FROM retry WHERE received < ?1");
    retries.Bind(1, cutoff).Run();
    result.Retries = sqlite3_changes(Impl->Db);
    TStatement usage(Impl->Db, "DELETE FROM usage WHERE day < ?1");
    usage.Bind(1, now / SecondsPerDay).Run();
    Impl->Exec("DELETE FROM message WHERE live = 0 AND owner != 0 "
               "AND NOT EXISTS (SELECT 1 FROM line WHERE line.server_id = message.server_id) "
               "AND NOT EXISTS (SELECT 1 FROM submission "
               "WHERE submission.server_id = message.server_id)");
    result.Messages = sqlite3_changes(Impl->Db);
    transaction.Commit();
    return result;
}

void TSqliteStore::Backup(const std::string& target) {
    if (PathExists(target))
        throw EStoreError("The backup file " + target + " exists already; name a new one");
    sqlite3* copy = nullptr;
    int rc =
        sqlite3_open_v2(target.c_str(), &copy, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    std::unique_ptr<sqlite3, int (*)(sqlite3*)> closer(copy, sqlite3_close_v2);
    if (rc != SQLITE_OK)
        ThrowStore(copy, rc, "cannot create the backup " + target);
    sqlite3_backup* backup = sqlite3_backup_init(copy, "main", Impl->Db, "main");
    if (!backup)
        ThrowStore(copy, sqlite3_errcode(copy), "cannot start the backup");
    // Whole steps while others write restart the copy; a lock held too long ends it.
    for (int attempt = 0; attempt < 200; ++attempt) {
        rc = sqlite3_backup_step(backup, -1);
        if (rc != SQLITE_OK && rc != SQLITE_BUSY && rc != SQLITE_LOCKED)
            break;
        sqlite3_sleep(50);
    }
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) {
        closer.reset();
        std::remove(target.c_str());
        ThrowStore(nullptr, rc, "the backup to " + target + " failed");
    }
}

} // namespace pellora
