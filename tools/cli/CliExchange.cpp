#include "CliExchange.h"

#include "core/MsgFile3.h"
#include "core/Settings.h"
#include "net/PellNet.h"
#include "platform/IniFile.h"

#include <vector>

namespace pellora {

TLibDownloadResult DownloadLibrary(TNetModule& net, const std::string& folder,
                                   const std::string& languageCode) {
    TLibDownloadResult result;
    const std::string before = keys::ReadLastModified(IniFile(net.PrefsFile()), languageCode);
    std::vector<std::string> lines;
    if (!net.DownloadMessages(languageCode, lines))
        return result;
    if (lines.empty()) {
        result.Outcome = TLibDownloadOutcome::NothingNew;
        return result;
    }
    TRemotePopups library(folder, languageCode, "messages");
    try {
        library.RefreshList(lines);
    } catch (...) {
        // The new date is already stored; kept, it would make the server answer "not
        // modified" to every later download while the file still holds the old library.
        IniFile prefs(net.PrefsFile());
        keys::WriteLastModified(prefs, languageCode, before);
        throw;
    }
    result.Outcome = TLibDownloadOutcome::Stored;
    result.LineCount = lines.size();
    result.FileName = library.FileName();
    return result;
}

TOwnUploadResult UploadOwnMessages(TNetModule& net, const std::string& folder,
                                   const std::string& languageCode) {
    TOwnUploadResult result;
    TOwnPopups own(folder, languageCode, "custom");
    // Nothing is pending in a fresh collection; flushing first keeps the page's order.
    own.Flush();
    std::size_t start = 0;
    std::vector<std::string> compacted, deltas;
    if (own.CopyUploadsTo(start, compacted))
        TBaseOwnPopups::FormatUploads(compacted, deltas);
    result.FileName = own.FileName();
    if (deltas.empty()) {
        result.Outcome = TOwnUploadOutcome::NothingToUpload;
        return result;
    }
    result.DeltaCount = deltas.size();
    std::int32_t added = 0;
    std::vector<std::string> reply;
    if (!net.UploadMessages(languageCode, deltas, result.Accepted, added, result.Appended, reply))
        return result;
    if (result.Accepted != result.Appended) {
        result.Outcome = TOwnUploadOutcome::NotStoredRemotely;
        return result;
    }
    own.CommitUploads(start, reply);
    result.Outcome = TOwnUploadOutcome::Committed;
    result.StoredCount = reply.size();
    return result;
}

} // namespace pellora
