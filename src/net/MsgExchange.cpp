#include "net/MsgExchange.h"

#include "core/MsgFile3.h"
#include "core/MsgRecord.h"
#include "net/PellNet.h"
#include "platform/StrUtils.h"

#include <algorithm>
#include <deque>
#include <exception>
#include <utility>
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

namespace {

// The user's words for a change the server refused: what it did to which text.
std::string RefusedChangeText(const std::string& line, const std::vector<std::string>& saved) {
    TMsgRecord record;
    if (!ParseMsgRecord(line, record))
        return line;
    std::string text = record.Text;
    if (record.Action == TMsgAction::Del) {
        // A deletion carries no text: the message's last one before it tells which it was.
        TMsgRecord before;
        for (const std::string& old : saved)
            if (ParseMsgRecord(old, before) && before.OwnId == record.OwnId &&
                before.Action != TMsgAction::Del)
                text = before.Text;
    }
    const char* what = record.Action == TMsgAction::New   ? "new"
                       : record.Action == TMsgAction::Mod ? "changed"
                                                          : "deleted";
    return Format("%s: \"%s\"", what, text.c_str());
}

// How far an upload in batches got: changes the server stored, of all there were.
struct THowFar {
    std::size_t Stored = 0;
    std::size_t Total = 0;
    bool Told = false;

    // Said once, after the reason an upload ended early for.
    void AddTo(TExchangeResult& result) {
        if (Stored == 0 || std::exchange(Told, true))
            return;
        result.Text += Format("\r\n%zu of your %zu changes were uploaded before that; the "
                              "others stay to be sent.",
                              Stored, Total);
    }
};

// One upload of a language's pending block, in batches the server takes, each committed to
// the own-message file before the next goes out.
class TBatchUpload {
public:
    TBatchUpload(TNetModule& net, TOwnPopups& own, std::size_t start,
                 std::vector<std::string> compacted, const std::string& languageCode,
                 const TUploadProgress& progress, TExchangeResult& result, THowFar& howFar)
        : Net(net), Own(own), Start(start),
          Saved(own.Lines.begin(), own.Lines.begin() + static_cast<std::ptrdiff_t>(start)),
          Waiting(compacted.begin(), compacted.end()), Total(compacted.size()), Code(languageCode),
          Progress(progress), Result(result), HowFar(howFar) {
        HowFar.Total = Total;
    }

    // The server would not give a new access id; the module has said why.
    struct TRenewalFailed {};

    void Run() {
        std::size_t limit = static_cast<std::size_t>(Net.UploadLineLimit());
        while (!Waiting.empty()) {
            Net.CheckCancel();
            const std::vector<std::string> batch(
                Waiting.begin(),
                Waiting.begin() + static_cast<std::ptrdiff_t>(std::min(limit, Waiting.size())));
            std::vector<std::string> deltas;
            TBaseOwnPopups::FormatUploads(batch, deltas);
            std::int32_t accepted = 0;
            std::int32_t added = 0;
            std::int32_t appended = 0;
            std::vector<std::string> reply;
            ++Result.Batches;
            if (!Net.UploadMessages(Code, deltas, accepted, added, appended, reply)) {
                if (const std::optional<std::size_t> smaller = SmallerLimit(limit)) {
                    limit = *smaller;
                    continue;
                }
                return Stop(TExchangeOutcome::Failed);
            }
            Result.Accepted += accepted;
            Result.Appended += appended;
            std::erase(reply, std::string());
            if (!TakeReply(batch, accepted, appended, reply))
                return Stop(TExchangeOutcome::NotStoredRemotely);
        }
        Finish();
    }

private:
    // A 413 that names the most lines the server takes, fewer than were sent: the batch goes
    // again that small, and later uploads start so.
    std::optional<std::size_t> SmallerLimit(std::size_t limit) {
        const std::optional<TServerLimit>& reached = Net.ReachedLimit();
        constexpr std::string_view Name = "upload-lines=";
        if (!reached || reached->Status != 413 || !reached->Limit.starts_with(Name))
            return std::nullopt;
        const std::optional<std::int32_t> lines =
            ParseInt32(std::string_view(reached->Limit).substr(Name.size()));
        if (!lines || *lines < 1 || static_cast<std::size_t>(*lines) >= limit)
            return std::nullopt;
        Net.KeepUploadLineLimit(*lines);
        return static_cast<std::size_t>(*lines);
    }

    // Settles what the server stored of the batch; false when the reply cannot be matched to
    // it (nothing of the batch is then taken as stored).
    bool TakeReply(const std::vector<std::string>& batch, std::int32_t accepted,
                   std::int32_t appended, const std::vector<std::string>& reply) {
        const std::vector<std::size_t>& refused = Net.RefusedLines();
        std::vector<std::string> again;
        if (!refused.empty()) {
            // One stored line for every line not refused, in the upload's order.
            if (refused.back() > batch.size() || reply.size() != batch.size() - refused.size())
                return false;
            for (std::size_t position : refused)
                again.push_back(batch[position - 1]);
        } else if (accepted != appended) {
            if (!RenewAccessId())
                return false;
            // Nothing was stored: the same batch goes again with the new id.
            return true;
        }
        Waiting.erase(Waiting.begin(), Waiting.begin() + static_cast<std::ptrdiff_t>(batch.size()));
        Settled.insert(Settled.end(), reply.begin(), reply.end());
        if (!refused.empty() && RenewAccessId()) {
            // The id was the reason: the refused lines go first in the next batch.
            Waiting.insert(Waiting.begin(), again.begin(), again.end());
        } else if (!refused.empty()) {
            Reason = Net.RefusalReason();
            Kept.insert(Kept.end(), again.begin(), again.end());
            RefusedAlone.insert(RefusedAlone.end(), again.begin(), again.end());
        } else if (reply.empty()) {
            // Stored without an answer to keep: the lines stay pending, to go again next time.
            Kept.insert(Kept.end(), batch.begin(), batch.end());
        }
        Commit();
        HowFar.Stored += batch.size() - again.size();
        return true;
    }

    // True once, when the server said the access id is unknown or retired, and a new one
    // came.
    bool RenewAccessId() {
        if (Renewed || Net.AccessIdState() == TAccessIdState::Valid)
            return false;
        Renewed = true;
        std::int64_t id = 0;
        if (!Net.RenewAccessId(id))
            throw TRenewalFailed();
        return true;
    }

    void Commit() {
        Net.CheckCancel();
        std::vector<std::string> pending = Kept;
        pending.insert(pending.end(), Waiting.begin(), Waiting.end());
        Own.CommitBatch(Start, Settled, pending, !BackedUp);
        BackedUp = true;
        if (Progress)
            Progress(Total - Waiting.size(), Total);
    }

    // Ended before every change went: the reason, then how far the upload got.
    void Stop(TExchangeOutcome outcome) {
        if (outcome == TExchangeOutcome::NotStoredRemotely) {
            Result.Outcome = outcome;
            Result.Text = RemoteFailureText;
            if (!Net.RefusalReason().empty())
                Result.Text += "\r\n" + Net.RefusalReason();
        } else {
            Refused(Net, Result);
        }
        HowFar.AddTo(Result);
        Result.LineCount = Settled.size();
    }

    void Finish() {
        Result.LineCount = Settled.size();
        if (RefusedAlone.empty()) {
            Result.Outcome = TExchangeOutcome::Uploaded;
            Result.Text = UploadedText;
            return;
        }
        Result.Outcome = TExchangeOutcome::SomeRefused;
        Result.RefusedLines = RefusedAlone;
        Result.Text = Format("The exchange server took %zu of your %zu changes and refused %zu:",
                             Total - RefusedAlone.size(), Total, RefusedAlone.size());
        constexpr std::size_t Shown = 10;
        for (std::size_t i = 0; i < RefusedAlone.size() && i < Shown; ++i)
            Result.Text += "\r\n" + ShownServerText(RefusedChangeText(RefusedAlone[i], Saved), 200);
        if (RefusedAlone.size() > Shown)
            Result.Text += Format("\r\n... and %zu more", RefusedAlone.size() - Shown);
        if (!Reason.empty())
            Result.Text += "\r\n" + Reason;
        Result.Text += "\r\nThey stay to be sent again unless you drop them.";
    }

    TNetModule& Net;
    TOwnPopups& Own;
    const std::size_t Start;
    const std::vector<std::string> Saved; // the file's lines before the pending block
    std::deque<std::string> Waiting;      // not sent yet, in order
    const std::size_t Total;
    const std::string Code;
    const TUploadProgress& Progress;
    TExchangeResult& Result;
    std::vector<std::string> Settled;      // the server's lines so far
    std::vector<std::string> Kept;         // sent, still pending
    std::vector<std::string> RefusedAlone; // the kept ones the server refused alone
    std::string Reason;                    // the server's, for refusing them
    THowFar& HowFar;
    bool Renewed = false;
    bool BackedUp = false;
};

} // namespace

TExchangeResult UploadOwnMessages(TNetModule& net, const std::string& folder,
                                  const std::string& languageCode,
                                  const TUploadProgress& progress) {
    THowFar howFar;
    TExchangeResult done = Guarded(net, TExchangeKind::Upload, [&](TExchangeResult& result) {
        TOwnPopups own(folder, languageCode, "custom");
        // Nothing is pending in a fresh collection; flushing first keeps the page's order.
        own.Flush();
        std::size_t start = 0;
        std::vector<std::string> compacted;
        own.CopyUploadsTo(start, compacted);
        result.FileName = own.FileName();
        if (compacted.empty()) {
            result.Outcome = TExchangeOutcome::NothingToUpload;
            result.Text = NothingToUploadText;
            return;
        }
        result.DeltaCount = compacted.size();
        TBatchUpload upload(net, own, start, std::move(compacted), languageCode, progress, result,
                            howFar);
        try {
            upload.Run();
        } catch (const TBatchUpload::TRenewalFailed&) {
            Refused(net, result);
            howFar.AddTo(result);
        }
    });
    done.StoredChanges = howFar.Stored;
    // An upload cut short by an error or Cancel says how far it got too.
    if (done.Outcome == TExchangeOutcome::Error || done.Outcome == TExchangeOutcome::Cancelled)
        howFar.AddTo(done);
    return done;
}

TExchangeResult RunExchange(TNetModule& net, TExchangeKind kind, const std::string& folder,
                            const std::string& languageCode, const TUploadProgress& progress) {
    switch (kind) {
    case TExchangeKind::Download:
        return DownloadLibrary(net, folder, languageCode);
    case TExchangeKind::Upload:
        return UploadOwnMessages(net, folder, languageCode, progress);
    case TExchangeKind::AccessId:
        break;
    }
    return RequestAccess(net);
}

} // namespace pellora
