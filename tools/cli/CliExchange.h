#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

enum class TLibDownloadOutcome { Failed, NothingNew, Stored };

struct TLibDownloadResult {
    TLibDownloadOutcome Outcome = TLibDownloadOutcome::Failed;
    std::size_t LineCount = 0; // lines written to the library file
    std::string FileName;      // the library file, once written
};

// Downloads the library of a language and stores it as the library page does: the lines
// replace the language's "messages" file below `folder`. Transport failures leave as
// EInetError; a library that cannot be stored leaves with the store's error, and then the
// download's Last-Modified is taken back so the next download brings the library again.
TLibDownloadResult DownloadLibrary(TNetModule& net, const std::string& folder,
                                   const std::string& languageCode);

enum class TOwnUploadOutcome { NothingToUpload, Failed, NotStoredRemotely, Committed };

struct TOwnUploadResult {
    TOwnUploadOutcome Outcome = TOwnUploadOutcome::Failed;
    std::size_t DeltaCount = 0; // changes sent
    std::int32_t Accepted = 0;  // as the server counted them
    std::int32_t Appended = 0;
    std::size_t StoredCount = 0; // server lines that replaced the pending block
    std::string FileName;        // the own-message file
};

// Uploads the own messages of a language not sent yet, as the own-message page does: the
// pending block of its "custom" file goes out as delta lines, and when the server stored
// every one of them its answer replaces the block (the previous file is kept as ".bak").
// Nothing is written unless the server stored everything.
TOwnUploadResult UploadOwnMessages(TNetModule& net, const std::string& folder,
                                   const std::string& languageCode);

} // namespace pellora
