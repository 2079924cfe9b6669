#pragma once

#include "ExchangeDelta.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pellora {

// Seconds since 1970-01-01 UTC; replaceable so tests can move time.
using TWallClock = std::function<std::int64_t()>;

// Access ids handed out before they became random fit in 31 bits, and so do the ids given to
// clients that can only read 32-bit numbers; the others are random 63-bit numbers.
using TAccessId = std::int64_t;
constexpr TAccessId FirstWideAccessId = TAccessId(1) << 31;

// Server ids travel as 32-bit numbers. An imported library keeps its ids only below this
// ceiling, so uploads always have more than a billion ids to go on from.
constexpr std::int32_t MaxImportedServerId = 1'000'000'000;

// What the exchange allows anonymous clients, kept in the database so that every program
// sharing it applies the same. `pellora-exchange config` shows and changes them.
struct TExchangeLimits {
    std::int64_t UploadLines = 100;         // delta lines in one upload
    std::int64_t AccessLinesPerDay = 200;   // lines stored per access id per UTC day
    std::int64_t AddressLinesPerDay = 1000; // lines sent per client address per UTC day
    std::int64_t AddressAccessPerDay = 50;  // access ids handed out per address per day
    std::int64_t QueueBytes = 64LL << 20;   // pending submissions, text plus row overhead
    std::int64_t DatabaseMegabytes = 1024;  // the database file may not grow past this
    std::int64_t NarrowAccessIds = 1;       // 1: GET request_access still gets a 31-bit id
};

// The limits by the names the admin tool uses ("upload-lines", ...), in a fixed order.
std::vector<std::pair<std::string, std::int64_t>> NamedLimits(const TExchangeLimits& limits);
// Sets one limit by name; false for a name that is not one.
bool SetNamedLimit(TExchangeLimits& limits, const std::string& name, std::int64_t value);

enum class TUploadOutcome {
    Stored, // every delta was stored, or the same upload had been stored before
    Refused // unknown access id, or a change of a message it does not own: nothing stored
};

struct TUploadResult {
    TUploadOutcome Outcome = TUploadOutcome::Stored;
    int New = 0;      // NEW lines stored
    int Accepted = 0; // lines received and parsed
    int Appended = 0; // lines stored
    // One journal line per stored delta, with a stamp and the message's server id.
    std::vector<std::string> Lines;
};

struct TLibraryRead {
    bool Exists = false; // the language has a library
    // The time to send as Last-Modified: the second of the last change, never later than the
    // clock; changes within one second after a download are told apart (see ReadLibrary).
    std::int64_t Modified = 0;
    bool NotModified = false; // not changed since the time asked about; Lines left empty
    std::vector<std::string> Lines;
};

enum class TSubmissionState { Pending = 0, Approved = 1, Rejected = 2 };

// An uploaded delta waiting for review.
struct TSubmission {
    std::int64_t Id = 0;
    TAccessId AccessId = 0;
    std::string Address; // the client's address, as the web server gave it
    std::string Language;
    TMsgAction Action = TMsgAction::New;
    std::int32_t Group = 0;
    std::int32_t ServerId = 0;
    std::int32_t OwnId = 0;
    std::string Text;
    std::int64_t Received = 0;
};

struct TImportResult {
    int Added = 0;
    // Non-records, and changes of messages the library does not hold: a replay ignores both.
    int Skipped = 0;
};

struct TPurgeResult {
    int Submissions = 0; // rejected ones, and decided ones older than the age given
    int Retries = 0;     // remembered upload answers older than the age given
    int Messages = 0;    // server ids of rejected additions that nothing refers to any more
};

// The exchange's data: access ids, the public library of each language as journal lines, and
// uploaded deltas waiting for review. Uploads never reach the public library directly;
// Approve moves them there. Every change runs in one transaction, so a failure leaves the
// data as it was. EStoreBusy says the store cannot take changes for now (locked, full or
// read-only); other failures throw EStoreError, and limits ELimitError.
class TExchangeStore {
public:
    virtual ~TExchangeStore() = default;

    virtual std::int64_t Now() const = 0;
    virtual TExchangeLimits Limits() = 0;
    virtual void SetLimits(const TExchangeLimits& limits) = 0;

    // A new access id, never handed out before: a random 63-bit one, or a random 31-bit one
    // when narrow. At most AddressAccessPerDay per address and day (ELimitError 429).
    virtual TAccessId RequestAccess(const std::string& address, bool narrow) = 0;

    // The library of a language code ("EN"). When ifModifiedSince is given and the library
    // has not changed after it, NotModified is set instead of reading the lines; a time that
    // this store cannot have handed out yet is ignored. A change in the same second as a
    // download still makes that download's time look old, without any time handed out ever
    // passing the clock.
    virtual TLibraryRead ReadLibrary(const std::string& language,
                                     std::optional<std::int64_t> ifModifiedSince = {}) = 0;

    // Stores all deltas as pending submissions, or none. A NEW gets a fresh server id (any id
    // it carries is ignored); a MOD or DEL must name a server id of this access id in this
    // language. A repeat of the access id's last upload to the language, and a NEW already
    // stored with the same own id, group and text, are answered as the first time and not
    // stored again, so a client that lost the answer can safely send again. Limits reached
    // throw ELimitError: 413 too many lines, 429 a daily limit, 503 the review queue full.
    virtual TUploadResult AddDeltas(TAccessId accessId, const std::string& language,
                                    const std::vector<TDelta>& deltas,
                                    const std::string& address) = 0;

    // Appends the records of a journal file to a language's public library. A NEW keeps its
    // server id (a new one when it has none) unless that id is taken or above
    // MaxImportedServerId, which fails the whole import; MOD and DEL of a message the library
    // does not hold are skipped.
    virtual TImportResult Import(const std::string& language,
                                 const std::vector<std::string>& lines) = 0;

    virtual std::vector<TSubmission> Pending() = 0;

    // Moves pending submissions into the public libraries, in the order they arrived, and
    // returns the languages whose library changed. All or nothing: an id that is not pending,
    // or a change of a message not in the public library, fails the whole call.
    virtual std::vector<std::string> Approve(const std::vector<std::int64_t>& ids) = 0;
    // Marks pending submissions rejected; all or nothing as Approve.
    virtual void Reject(const std::vector<std::int64_t>& ids) = 0;
    // Rejects every pending submission of an access id; returns how many.
    virtual int RejectAccess(TAccessId accessId) = 0;
    // Deletes rejected submissions, decided ones and remembered answers older than the days
    // given, and daily counts of past days.
    virtual TPurgeResult Purge(int days) = 0;
};

// The SQLite store: one database file shared by every program of the exchange.
class TSqliteStore : public TExchangeStore {
public:
    enum class TOpenMode { Existing, Create };

    // Existing refuses a missing, uninitialised or outdated file; Create makes it (and its
    // tables) or brings an older one up to date.
    explicit TSqliteStore(const std::string& path, TOpenMode mode = TOpenMode::Existing,
                          TWallClock clock = {});
    ~TSqliteStore() override;
    TSqliteStore(const TSqliteStore&) = delete;
    TSqliteStore& operator=(const TSqliteStore&) = delete;

    std::int64_t Now() const override;
    TExchangeLimits Limits() override;
    void SetLimits(const TExchangeLimits& limits) override;
    TAccessId RequestAccess(const std::string& address, bool narrow) override;
    TLibraryRead ReadLibrary(const std::string& language,
                             std::optional<std::int64_t> ifModifiedSince = {}) override;
    TUploadResult AddDeltas(TAccessId accessId, const std::string& language,
                            const std::vector<TDelta>& deltas, const std::string& address) override;
    TImportResult Import(const std::string& language,
                         const std::vector<std::string>& lines) override;
    std::vector<TSubmission> Pending() override;
    std::vector<std::string> Approve(const std::vector<std::int64_t>& ids) override;
    void Reject(const std::vector<std::int64_t>& ids) override;
    int RejectAccess(TAccessId accessId) override;
    TPurgeResult Purge(int days) override;

    // Copies the database into a new file while others keep using it.
    void Backup(const std::string& target);

    struct TImpl;

private:
    std::unique_ptr<TImpl> Impl;
};

} // namespace pellora
