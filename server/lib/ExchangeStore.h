#pragma once

#include "ExchangeDelta.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pellora {

// Seconds since 1970-01-01 UTC; replaceable so tests can move time.
using TWallClock = std::function<std::int64_t()>;

enum class TUploadOutcome {
    Stored,        // every delta was stored
    UnknownAccess, // the access id was never issued; nothing stored
    Refused        // a change of a message the access id does not own; nothing stored
};

struct TUploadResult {
    TUploadOutcome Outcome = TUploadOutcome::Stored;
    int New = 0;      // NEW lines stored
    int Accepted = 0; // lines received and parsed
    int Appended = 0; // lines stored
    // One journal line per stored delta, with a stamp and the message's server id.
    std::vector<std::string> Lines;
    std::string Refusal; // why nothing was stored
};

struct TLibraryRead {
    bool Exists = false;       // the language has a library
    std::int64_t Modified = 0; // its last change
    bool NotModified = false;  // not changed since the time asked about; Lines left empty
    std::vector<std::string> Lines;
};

enum class TSubmissionState { Pending = 0, Approved = 1, Rejected = 2 };

// An uploaded delta waiting for review.
struct TSubmission {
    std::int64_t Id = 0;
    std::int32_t AccessId = 0;
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

// The exchange's SQLite database: access ids, the public library of each language as journal
// lines, and uploaded deltas waiting for review. Uploads never reach the public library
// directly; Approve moves them there. Every change runs in one transaction, so a failure
// leaves the database as it was. The database uses WAL and waits for a busy writer for a few
// seconds before giving up with EStoreBusy; other failures throw EStoreError.
class TExchangeStore {
public:
    enum class TOpenMode { Existing, Create };

    // Existing refuses a missing or uninitialised file; Create makes it (and its tables).
    explicit TExchangeStore(const std::string& path, TOpenMode mode = TOpenMode::Existing,
                            TWallClock clock = {});
    ~TExchangeStore();
    TExchangeStore(const TExchangeStore&) = delete;
    TExchangeStore& operator=(const TExchangeStore&) = delete;

    std::int64_t Now() const;

    // A new positive access id, never handed out before.
    std::int32_t RequestAccess();

    // The library of a language code ("EN"). When ifModifiedSince is given and the library
    // has not changed after it, NotModified is set instead of reading the lines; a time that
    // this store cannot have handed out yet is ignored.
    TLibraryRead ReadLibrary(const std::string& language,
                             std::optional<std::int64_t> ifModifiedSince = std::nullopt);

    // Stores all deltas as pending submissions, or none. A NEW gets a fresh server id (any id
    // it carries is ignored); a MOD or DEL must name a server id of this access id in this
    // language.
    TUploadResult AddDeltas(std::int32_t accessId, const std::string& language,
                            const std::vector<TDelta>& deltas);

    // Appends the records of a journal file to a language's public library. A NEW keeps its
    // server id (a new one when it has none) unless that id is taken, which fails the whole
    // import; MOD and DEL of a message the library does not hold are skipped.
    TImportResult Import(const std::string& language, const std::vector<std::string>& lines);

    std::vector<TSubmission> Pending();

    // Moves pending submissions into the public libraries, in the order they arrived, and
    // returns the languages whose library changed. All or nothing: an id that is not pending,
    // or a change of a message not in the public library, fails the whole call.
    std::vector<std::string> Approve(const std::vector<std::int64_t>& ids);
    // Marks pending submissions rejected; all or nothing as Approve.
    void Reject(const std::vector<std::int64_t>& ids);

    struct TImpl;

private:
    std::unique_ptr<TImpl> Impl;
};

} // namespace pellora
