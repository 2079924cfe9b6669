#include "net/MsgExchange.h"

#include "core/MsgFile3.h"
#include "net/PellNet.h"
#include "platform/StrUtils.h"

#include <exception>
#include <vector>

namespace pellora {

namespace {

// Turns whatever ended an exchange early into its outcome.
template <typename TStep> TExchangeResult Guarded(TNetModule& net, TExchangeKind kind, TStep step) {
    TExchangeResult result;
    result.Kind = kind;
    try {
        step(result);
    } catch (const EInetError& error) {
        result.Outcome =
            net.CancelRequested() ? TExchangeOutcome::Cancelled : TExchangeOutcome::Error;
        result.Text = error.what();
    } catch (const std::exception& error) {
        result.Outcome = TExchangeOutcome::Error;
        result.Text = *error.what() != '\0' ? error.what() : "The exchange failed.";
    }
    result.LogFailure = net.LogFailure();
    return result;
}

// The outcome of an operation that returned false.
void Refused(TNetModule& net, TExchangeResult& result) {
    if (net.CancelRequested()) {
        // The user's Cancel ended a question for credentials.
        result.Outcome = TExchangeOutcome::Cancelled;
        result.Text = InetErrorText(inet::OperationCancelled);
        return;
    }
    if (const std::optional<TServerLimit>& limit = net.ReachedLimit()) {
        result.Outcome = TExchangeOutcome::LimitReached;
        result.Text = net.FailureReason();
        result.Limit = limit->Limit;
        result.RetryAfterSeconds = limit->RetryAfterSeconds;
        return;
    }
    result.Outcome = TExchangeOutcome::Failed;
    result.Text = std::string(ConnectionProblemText) + "\r\n" + net.FailureReason();
}

} // namespace

TExchangeResult RequestAccess(TNetModule& net) {
    return Guarded(net, TExchangeKind::AccessId, [&](TExchangeResult& result) {
        if (!net.GetAccessId(result.AccessId))
            return Refused(net, result);
        result.Outcome = TExchangeOutcome::AccessGranted;
        result.Text = Format("The access id is %lld.", static_cast<long long>(result.AccessId));
    });
}

TExchangeResult DownloadLibrary(TNetModule& net, const std::string& folder,
                                const std::string& languageCode) {
    return Guarded(net, TExchangeKind::Download, [&](TExchangeResult& result) {
        std::vector<std::string> lines;
        const bool ok =
            net.DownloadMessages(languageCode, lines, [&](const std::vector<std::string>& library) {
                TRemotePopups popups(folder, languageCode, "messages");
                popups.RefreshList(library);
                result.FileName = popups.FileName();
            });
        if (!ok)
            return Refused(net, result);
        result.Outcome =
            lines.empty() ? TExchangeOutcome::NothingNew : TExchangeOutcome::Downloaded;
        result.Text = lines.empty() ? NothingNewText : DownloadedText;
        result.LineCount = lines.size();
    });
}

TExchangeResult UploadOwnMessages(TNetModule& net, const std::string& folder,
                                  const std::string& languageCode) {
    return Guarded(net, TExchangeKind::Upload, [&](TExchangeResult& result) {
        TOwnPopups own(folder, languageCode, "custom");
        // Nothing is pending in a fresh collection; flushing first keeps the page's order.
        own.Flush();
        std::size_t start = 0;
        std::vector<std::string> compacted;
        std::vector<std::string> deltas;
        if (own.CopyUploadsTo(start, compacted))
            TBaseOwnPopups::FormatUploads(compacted, deltas);
        result.FileName = own.FileName();
        if (deltas.empty()) {
            result.Outcome = TExchangeOutcome::NothingToUpload;
            result.Text = NothingToUploadText;
            return;
        }
        result.DeltaCount = deltas.size();
        std::int32_t added = 0;
        std::vector<std::string> reply;
        if (!net.UploadMessages(languageCode, deltas, result.Accepted, added, result.Appended,
                                reply))
            return Refused(net, result);
        if (result.Accepted != result.Appended) {
            result.Outcome = TExchangeOutcome::NotStoredRemotely;
            result.Text = RemoteFailureText;
            if (!net.RefusalReason().empty())
                result.Text += "\r\n" + net.RefusalReason();
            return;
        }
        net.CheckCancel();
        own.CommitUploads(start, reply);
        result.Outcome = TExchangeOutcome::Uploaded;
        result.Text = UploadedText;
        result.LineCount = reply.size();
    });
}

TExchangeResult RunExchange(TNetModule& net, TExchangeKind kind, const std::string& folder,
                            const std::string& languageCode) {
    switch (kind) {
    case TExchangeKind::Download:
        return DownloadLibrary(net, folder, languageCode);
    case TExchangeKind::Upload:
        return UploadOwnMessages(net, folder, languageCode);
    case TExchangeKind::AccessId:
        break;
    }
    return RequestAccess(net);
}

} // namespace pellora
