#pragma once

#include "net/NetSync.h"
#include "net/uAdvHttp.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellora {

// Puts a downloaded library where it belongs; it must be on disk when this returns.
using TStoreLibrary = std::function<void(const std::vector<std::string>& lines)>;

// The network module: sets up the HTTP client from the preferences before every request and
// carries out the exchanges with the exchange server (access id, library download, upload of
// own-message changes). Nothing is kept between exchanges: every one reads the preferences
// file afresh. Run one operation at a time, on one thread at a time; only Cancel may come
// from another thread.
//
// Failures follow one rule. An operation that returns has had an answer from the server:
// true when it is the answer the exchange wants, false when it is not (a status, exchange
// header, number or body the exchange cannot use, or credentials the server asked for and
// did not get, or one of the server's limits). After false, FailureReason() says what came
// back and names the address, ReachedLimit() tells a limit apart, and the request's log has
// been written. An operation that gets no answer to judge (the
// transport failed, the request was cancelled) throws EInetError, whose text names the
// address it tried; then no log is written and nothing is stored. The log never changes an
// outcome: one that cannot be written is noted in LogFailure().
class TNetModule {
public:
    // The preferences file and the folder the request logs go to.
    TNetModule(std::string prefsFile, const std::string& logFolder);

    TAdvHttp FHttp;

    void DataModuleCreate();
    // The fixed setup before every request.
    void ConfigureHttp(TAdvHttp& http);
    // "Pellora Exchange", the base the script names are appended to as they stand.
    std::string GetExchangeUrl() const;

    // Asks with a POST, which gets a 63-bit id, and once more with a GET, as older clients
    // ask, when the server refuses the POST's method (405, 501) or form (400).
    bool RequestAccessId(std::int64_t& accessId);
    // The stored id, or a new one from the server, which is then stored.
    bool GetAccessId(std::int64_t& accessId);
    // A new id from the server in place of the stored one, which it no longer takes.
    bool RenewAccessId(std::int64_t& accessId);
    // The download request for a language; lastModified goes out as If-Modified-Since when
    // not empty and comes back as the reply's value after a 200 (empty when it has none).
    // Empty lines after success mean nothing new.
    bool FetchMessages(std::string_view languageCode, std::string& lastModified,
                       std::vector<std::string>& lines);
    // Access id, download, then `store` with the new library (not called when nothing is new),
    // and only then the new Last-Modified: a download cut short at any point leaves a date
    // that brings the library again. What `store` throws passes through, date untouched.
    bool DownloadMessages(std::string_view languageCode, std::vector<std::string>& lines,
                          const TStoreLibrary& store);
    bool PostDeltas(const std::string& body, std::int32_t& accepted, std::int32_t& newCount,
                    std::int32_t& appended, std::vector<std::string>& lines);
    bool UploadMessages(std::string_view languageCode, const std::vector<std::string>& deltaLines,
                        std::int32_t& accepted, std::int32_t& newCount, std::int32_t& appended,
                        std::vector<std::string>& lines);

    // Replaces "<log folder><logName>.log" with the request and the reply headers. Throws
    // EFileError when it cannot.
    void WriteExchangeLog(TAdvHttp& http, const std::string& logName, const std::string& body);

    // Starts an exchange afresh: forgets a cancel and the notes of the last one.
    void BeginExchange();
    // Ends the request under way and refuses further ones (EInetError 12017) until the next
    // BeginExchange. May be called from any thread.
    void Cancel();
    bool CancelRequested() const { return CancelFlag; }
    // Throws the EInetError of a cancelled request when Cancel was called.
    void CheckCancel() const;

    const std::string& FailureReason() const { return Failure; }
    // After false: the limit of the exchange server that refused the request, if it was one.
    const std::optional<TServerLimit>& ReachedLimit() const { return Limit; }
    // After an upload the server answered without storing it: its reason, when it gave one,
    // with the address ("<reason> (<address>)"); empty otherwise.
    const std::string& RefusalReason() const { return Refusal; }
    // After an upload: the lines it refused alone (1-based, ascending), and what it said of
    // the access id.
    const std::vector<std::size_t>& RefusedLines() const { return RefusedPositions; }
    TAccessIdState AccessIdState() const { return AccessState; }
    // The most changes one upload may carry, as last learnt from a server; and keeping a
    // server's word on it.
    std::int32_t UploadLineLimit() const;
    void KeepUploadLineLimit(std::int32_t lines);
    const std::string& LogFailure() const { return LogProblem; }
    const std::string& PrefsFile() const { return Prefs; }
    const std::string& LogFolder() const { return Logs; }

private:
    std::string ResponseHeaderText() const;
    // Where the last request failed: the address, or the proxy on the way to it.
    std::string AddressText() const;
    // Points FHttp at the address; one it cannot take leaves as EInetError naming it.
    void SetRequestUrl(const std::string& url);
    // Sends the request set up in FHttp; transport failures leave with the address.
    void Perform();
    // Notes why the answer is refused and writes the log; always false.
    bool Refuse(const std::string& reason, const std::string& logName, const std::string& body);
    // Why the reply to the request is not the status the exchange wants.
    std::string StatusFault() const;
    // Refuses a reply that says a limit of the server was reached; false for any other.
    bool RefusedForLimit(const std::string& logName, const std::string& body);
    // Sends a form as a POST to the address.
    void PostForm(const std::string& url, const std::string& body);
    void TryWriteLog(const std::string& logName, const std::string& body);

    std::string Prefs;
    std::string Logs;
    std::atomic<bool> CancelFlag{false};
    std::string Failure;
    std::optional<TServerLimit> Limit;
    std::string Refusal;
    std::vector<std::size_t> RefusedPositions;
    TAccessIdState AccessState = TAccessIdState::Valid;
    std::string LogProblem;
};

// "<text> (<address>)": an exchange failure names the address it tried.
std::string WithAddress(const std::string& text, const std::string& address);

} // namespace pellora
