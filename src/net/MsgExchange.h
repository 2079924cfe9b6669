#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pellora {

class TNetModule;

// What the library and own-message pages tell the user after an exchange.
inline constexpr const char* ConnectionProblemText =
    "There was some kind of problem with the internet connection.\r\n"
    "Please make sure you are connected to the internet.";
inline constexpr const char* NothingNewText =
    "Nothing new to download.\r\nAll categories were checked.";
inline constexpr const char* DownloadedText =
    "New messages have been downloaded.\r\nAll categories were checked.";
inline constexpr const char* NothingToUploadText = "There are no new messages to upload.";
inline constexpr const char* UploadedText =
    "New and edited messages have been uploaded. Any deleted messages will have been passed "
    "on too.";
inline constexpr const char* RemoteFailureText = "Something went wrong while processing remotely";

enum class TExchangeKind { AccessId, Download, Upload };

enum class TExchangeOutcome {
    // The server answered, but not as the exchange wants: ConnectionProblemText, then a line
    // that says what came back from which address.
    Failed,
    // No answer (the transport failed) or what came could not be stored: the error's text,
    // which names the address or the file.
    Error,
    // Cancel ended the exchange; nothing of it was stored.
    Cancelled,
    AccessGranted,
    NothingNew,
    Downloaded,
    NothingToUpload,
    Uploaded,
    // The server did not store every change: RemoteFailureText, then the server's reason
    // when it gave one; the changes stay pending.
    NotStoredRemotely,
    // The server stored every change but a few it refused alone (RefusedLines), which stay
    // pending: a text that says how many and which, and the server's reason.
    SomeRefused,
    // A limit of the server refused the request (too much at once, enough for today, no room
    // now): a text that names the limit and the address and says when to try again. Nothing
    // was stored.
    LimitReached,
};

struct TExchangeResult {
    TExchangeKind Kind = TExchangeKind::AccessId;
    TExchangeOutcome Outcome = TExchangeOutcome::Error;
    std::string Text;           // what the user is told
    std::string FileName;       // the library or own-message file, once known
    std::size_t LineCount = 0;  // lines stored: the library's, or the server's for an upload
    std::size_t DeltaCount = 0; // changes sent
    std::int32_t Accepted = 0;  // as the server counted them
    std::int32_t Appended = 0;
    std::int64_t AccessId = 0;
    std::string LogFailure; // why a request log could not be written, if it could not
    // SomeRefused: the pending lines of the own-message file the server refused alone, as
    // they stand in the file (DropUploads takes them out).
    std::vector<std::string> RefusedLines;
    std::size_t Batches = 0;       // uploads the changes went out in
    std::size_t StoredChanges = 0; // changes the server took, which the file now shows
    // LimitReached: the limit as the server named it ("upload-lines=100", empty when it did
    // not), and the seconds after which trying again can help (0: not said).
    std::string Limit;
    std::int64_t RetryAfterSeconds = 0;
};

// The exchange workflow the messages dialog and pellora-cli share. None of these throws: every
// failure is an outcome with its text. Call the module's BeginExchange first.

// Makes sure the access id is there, asking the server for one if needed.
TExchangeResult RequestAccess(TNetModule& net);

// Downloads the library of a language and stores it as the library page does: the lines
// replace the language's "messages" file below `folder`, and only then is the reply's date
// kept, so a download cut short at any point is made again next time.
TExchangeResult DownloadLibrary(TNetModule& net, const std::string& folder,
                                const std::string& languageCode);

// Changes uploaded so far (stored by the server, or refused alone) of all there are.
using TUploadProgress = std::function<void(std::size_t done, std::size_t total)>;

// Uploads the own messages of a language not sent yet, as the own-message page does: the
// pending block of its "custom" file goes out as delta lines, in batches no larger than the
// server takes (it says so when one is too large). After each batch the server's answer
// replaces in the file what it stored (the file as it was before the upload is kept as
// ".bak"), so a batch is never sent twice; a change the server refused alone stays pending,
// and the others still go. An access id the server does not know or has retired is replaced
// once and the refused part sent again. Progress is told after every batch.
TExchangeResult UploadOwnMessages(TNetModule& net, const std::string& folder,
                                  const std::string& languageCode,
                                  const TUploadProgress& progress = {});

TExchangeResult RunExchange(TNetModule& net, TExchangeKind kind, const std::string& folder,
                            const std::string& languageCode, const TUploadProgress& progress = {});

} // namespace pellora
