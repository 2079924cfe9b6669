#include "ui/NetUi.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QThread>
#include <exception>

namespace pellora {

namespace {
bool OnMainThread() {
    return QCoreApplication::instance() == nullptr ||
           QThread::currentThread() == QCoreApplication::instance()->thread();
}
} // namespace

void TQtEventDelivery::Send(const std::function<void()>& call) {
    if (OnMainThread()) {
        call();
        return;
    }
    std::exception_ptr failure;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&call, &failure] {
            try {
                call();
            } catch (...) {
                failure = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (failure)
        std::rethrow_exception(failure);
}

void TQtEventDelivery::Post(std::function<void()> call) {
    if (QCoreApplication::instance() == nullptr) {
        call();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call), Qt::QueuedConnection);
}

void TQtEventDelivery::ServePending() {
    if (OnMainThread())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

bool AskCredentials(TAdvHttp& sender, bool forProxy, std::string& userName, std::string& password) {
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Enter Network Password"));
    auto* form = new QFormLayout(&dialog);
    const QString who =
        forProxy ? QStringLiteral("The proxy server") : QString::fromStdString(sender.HostName());
    form->addRow(new QLabel(QStringLiteral("%1 asks for a user name and password.").arg(who)));
    auto* user = new QLineEdit(QString::fromStdString(userName));
    auto* secret = new QLineEdit(QString::fromStdString(password));
    secret->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("&User name:"), user);
    form->addRow(QStringLiteral("&Password:"), secret);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    userName = user->text().toStdString();
    password = secret->text().toStdString();
    return true;
}

} // namespace pellora
