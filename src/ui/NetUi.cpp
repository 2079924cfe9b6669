#include "ui/NetUi.h"

#include "net/ExchangeWorker.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <atomic>

namespace pellora {

// Progress from the worker thread reaches the UI thread at most one delivery at a time, so
// a fast transfer cannot flood the event queue.
struct TProgressMailbox {
    std::atomic<std::uint64_t> Bytes{0};
    std::atomic<bool> Queued{false};
};

TCredentialsDlg::TCredentialsDlg(const QString& server, bool forProxy, const QString& userName,
                                 const QString& password, QWidget* parent)
    : QDialog(parent), UserEdit(new QLineEdit(userName)), PasswordEdit(new QLineEdit(password)) {
    setWindowTitle(QStringLiteral("Enter Network Password"));
    auto* form = new QFormLayout(this);
    const QString who =
        forProxy ? QStringLiteral("The proxy server %1").arg(server) : QString(server);
    form->addRow(new QLabel(QStringLiteral("%1 asks for a user name and password.").arg(who)));
    PasswordEdit->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("&User name:"), UserEdit);
    form->addRow(QStringLiteral("&Password:"), PasswordEdit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

QString TCredentialsDlg::UserName() const {
    return UserEdit->text();
}

QString TCredentialsDlg::Password() const {
    return PasswordEdit->text();
}

TCredentialsPrompt CredentialsDialogPrompt(QWidget* parent) {
    QPointer<QWidget> owner = parent;
    return [owner](const TCredentialsRequest& request, TCredentialsReply reply) -> QObject* {
        auto* dialog = new TCredentialsDlg(request.Server, request.ForProxy, request.UserName,
                                           request.Password, owner.data());
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        if (owner.isNull())
            dialog->setWindowModality(Qt::ApplicationModal);
        QObject::connect(
            dialog, &QDialog::finished, dialog, [dialog, reply = std::move(reply)](int result) {
                reply(result == QDialog::Accepted, dialog->UserName(), dialog->Password());
            });
        dialog->open();
        return dialog;
    };
}

TNetExchange::TNetExchange(std::string prefsFile, std::string logFolder, std::string localFolder,
                           TCredentialsPrompt prompt, QObject* parent)
    : QObject(parent), Prefs(std::move(prefsFile)), Logs(std::move(logFolder)),
      Local(std::move(localFolder)), Prompt(std::move(prompt)),
      Mailbox(std::make_shared<TProgressMailbox>()) {
    qRegisterMetaType<pellora::TExchangeOutcome>();
}

TNetExchange::~TNetExchange() {
    // The worker's last calls may still be queued for this object; Qt drops them with it.
    Worker.reset();
    delete Asking.data();
}

bool TNetExchange::StartDownload(const QString& languageCode) {
    return Start(TExchangeKind::Download, languageCode);
}

bool TNetExchange::StartUpload(const QString& languageCode) {
    return Start(TExchangeKind::Upload, languageCode);
}

bool TNetExchange::StartAccessRequest() {
    return Start(TExchangeKind::AccessId, QString());
}

bool TNetExchange::Start(TExchangeKind kind, const QString& languageCode) {
    if (Running)
        return false;
    if (!Worker)
        MakeWorker();
    if (!Worker->Start(kind, languageCode.toStdString()))
        return false;
    Running = true;
    return true;
}

void TNetExchange::MakeWorker() {
    Worker = std::make_unique<TExchangeWorker>(Prefs, Logs, Local);
    // These run on the worker thread and only queue calls for this object's thread.
    Worker->OnProgress = [this, mailbox = Mailbox](std::uint64_t bytes) {
        mailbox->Bytes = bytes;
        if (mailbox->Queued.exchange(true))
            return;
        Post([this, mailbox] {
            mailbox->Queued = false;
            emit Progress(static_cast<qint64>(mailbox->Bytes.load()));
        });
    };
    Worker->OnBatch = [this](std::size_t done, std::size_t total) {
        Post([this, done, total] {
            emit BatchProgress(static_cast<qint64>(done), static_cast<qint64>(total));
        });
    };
    Worker->OnFinished = [this](const TExchangeResult& result) {
        Post([this, result] { Done(result); });
    };
    Worker->OnNeedCredentials = [this](const TExchangeWorker::TCredentialsQuestion& question,
                                       const TExchangeWorker::TCredentialsAnswer& answer) {
        TCredentialsRequest request;
        request.Server = QString::fromStdString(question.Server);
        request.ForProxy = question.ForProxy;
        request.UserName = QString::fromStdString(question.UserName);
        request.Password = QString::fromStdString(question.Password);
        TCredentialsReply reply = [answer](bool ok, const QString& user, const QString& password) {
            answer(ok, user.toStdString(), password.toStdString());
        };
        Post([this, request, reply] { Ask(request, reply); });
    };
}

void TNetExchange::Post(std::function<void()> call) {
    // Queued with this object as context: Qt drops the call, unrun, when this object goes first.
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void TNetExchange::SetCredentialsPrompt(TCredentialsPrompt prompt) {
    Prompt = std::move(prompt);
}

void TNetExchange::Cancel() {
    if (Worker)
        Worker->Cancel();
}

void TNetExchange::Ask(const TCredentialsRequest& request, const TCredentialsReply& reply) {
    if (!Prompt || !Running) {
        reply(false, QString(), QString());
        return;
    }
    Asking = Prompt(request, reply);
}

void TNetExchange::Done(const TExchangeResult& result) {
    // A question the exchange no longer waits for goes away with it.
    delete Asking.data();
    Result = result;
    Running = false;
    emit Finished(result.Outcome, QString::fromStdString(result.Text));
}

} // namespace pellora
