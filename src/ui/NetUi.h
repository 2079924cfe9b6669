#pragma once

#include "net/MsgExchange.h"

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

class QLineEdit;

namespace pellora {

class TExchangeWorker;
struct TProgressMailbox;

// The dialog that asks for the user name and password a server or proxy wants.
class TCredentialsDlg : public QDialog {
    Q_OBJECT
public:
    // `server` is the host (and port) that asks; forProxy when it is the proxy.
    TCredentialsDlg(const QString& server, bool forProxy, const QString& userName,
                    const QString& password, QWidget* parent = nullptr);
    QString UserName() const;
    QString Password() const;

private:
    QLineEdit* UserEdit;
    QLineEdit* PasswordEdit;
};

struct TCredentialsRequest {
    QString Server;
    bool ForProxy = false;
    QString UserName; // what the request had, to start from
    QString Password;
};
// The user's answer: true with the credentials to try, false when declined.
using TCredentialsReply =
    std::function<void(bool ok, const QString& userName, const QString& password)>;
// Puts a request for credentials to the user without waiting for the answer (no nested event
// loop) and calls reply once when there is one. Returns the object that asks, which the
// exchange deletes when it ends first, or null.
using TCredentialsPrompt =
    std::function<QObject*(const TCredentialsRequest& request, TCredentialsReply reply)>;

// The program's prompt: TCredentialsDlg, opened application-modal (window-modal to parent
// when one is given).
TCredentialsPrompt CredentialsDialogPrompt(QWidget* parent = nullptr);

// The program's exchanges with the exchange server, run off the UI thread: start one, follow
// its progress, cancel it; its outcome comes back on the UI thread as Finished. One exchange
// at a time. Cheap to make: the worker thread, the network module and libcurl come with the
// first exchange.
class TNetExchange : public QObject {
    Q_OBJECT
public:
    // The preferences file, the folder of the request logs (the data folder), the folder of the
    // language folders ("Local/"), and how to ask for credentials.
    TNetExchange(std::string prefsFile, std::string logFolder, std::string localFolder,
                 TCredentialsPrompt prompt, QObject* parent = nullptr);
    // Cancels an exchange under way and waits for its thread, which the cancel ends at once.
    ~TNetExchange() override;

    // Each starts an exchange and returns true, or false (and starts nothing) while one runs.
    bool StartDownload(const QString& languageCode);
    bool StartUpload(const QString& languageCode);
    bool StartAccessRequest();
    // From a start until Finished has been emitted.
    bool Busy() const { return Running; }
    // How later requests for credentials are asked (for example with a dialog parented to the
    // window that started the exchange).
    void SetCredentialsPrompt(TCredentialsPrompt prompt);
    // The whole outcome of the last exchange (file, counts), valid from Finished on.
    const TExchangeResult& LastResult() const { return Result; }

public slots:
    // Ends the exchange under way: Finished follows with Cancelled and nothing is stored.
    void Cancel();

signals:
    // Bytes received so far in the exchange under way.
    void Progress(qint64 bytesReceived);
    // Changes of the upload under way done so far, of all it has, after each batch.
    void BatchProgress(qint64 done, qint64 total);
    // The outcome and what to tell the user.
    void Finished(pellora::TExchangeOutcome outcome, const QString& text);

private:
    bool Start(TExchangeKind kind, const QString& languageCode);
    void MakeWorker();
    // Queues a call for this object's thread; safe from any thread.
    void Post(std::function<void()> call);
    void Ask(const TCredentialsRequest& request, const TCredentialsReply& reply);
    void Done(const TExchangeResult& result);

    std::string Prefs;
    std::string Logs;
    std::string Local;
    TCredentialsPrompt Prompt;
    std::unique_ptr<TExchangeWorker> Worker;
    bool Running = false;
    TExchangeResult Result;
    QPointer<QObject> Asking;
    // The newest byte count, and whether a delivery of it is on its way already.
    std::shared_ptr<TProgressMailbox> Mailbox;
};

} // namespace pellora

Q_DECLARE_METATYPE(pellora::TExchangeOutcome)
