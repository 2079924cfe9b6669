#include "ui/ExchangeProgress.h"

#include "ui/NetUi.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace pellora {

TExchangeProgress::TExchangeProgress(TNetExchange& exchange, QWidget* owner)
    : QDialog(owner), Exchange(exchange), Owner(owner) {
    setWindowTitle(QStringLiteral("Pellora - Exchange"));
    auto* layout = new QVBoxLayout(this);
    WhatLabel = new QLabel(this);
    // An upload in batches says how far it is, which takes more than one line.
    WhatLabel->setWordWrap(true);
    layout->addWidget(WhatLabel);
    Bar = new QProgressBar(this);
    // How much will come is not known: the bar only shows that something runs.
    Bar->setRange(0, 0);
    Bar->setTextVisible(false);
    Bar->setAccessibleName(QStringLiteral("Exchange under way"));
    layout->addWidget(Bar);
    BytesLabel = new QLabel(this);
    layout->addWidget(BytesLabel);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    CancelBtn = new QPushButton(QStringLiteral("&Cancel"), this);
    // Enter must not end an exchange by accident.
    CancelBtn->setAutoDefault(false);
    buttons->addWidget(CancelBtn);
    layout->addLayout(buttons);
    connect(CancelBtn, &QPushButton::clicked, this, &TExchangeProgress::CancelBtnClick);
    setFixedWidth(340);
}

bool TExchangeProgress::Start(TExchangeKind kind, const QString& languageCode, TExchangeDone done) {
    if (Active || Exchange.Busy())
        return false;
    ProgressLink =
        connect(&Exchange, &TNetExchange::Progress, this, &TExchangeProgress::ExchangeProgress);
    FinishedLink =
        connect(&Exchange, &TNetExchange::Finished, this, &TExchangeProgress::ExchangeFinished);
    BatchLink =
        connect(&Exchange, &TNetExchange::BatchProgress, this, &TExchangeProgress::ExchangeBatch);
    Language = languageCode;
    bool started = false;
    switch (kind) {
    case TExchangeKind::Download:
        started = Exchange.StartDownload(languageCode);
        WhatLabel->setText(QStringLiteral("Downloading the %1 library from the exchange server...")
                               .arg(languageCode));
        break;
    case TExchangeKind::Upload:
        started = Exchange.StartUpload(languageCode);
        WhatLabel->setText(QStringLiteral("Uploading your %1 messages to the exchange server...")
                               .arg(languageCode));
        break;
    case TExchangeKind::AccessId:
        started = Exchange.StartAccessRequest();
        WhatLabel->setText(QStringLiteral("Asking the exchange server for an access id..."));
        break;
    }
    if (!started) {
        disconnect(ProgressLink);
        disconnect(FinishedLink);
        disconnect(BatchLink);
        return false;
    }
    Active = true;
    Done = std::move(done);
    ExchangeProgress(0);
    CancelBtn->setEnabled(true);
    if (Owner)
        Owner->setCursor(Qt::WaitCursor);
    open();
    CancelBtn->setFocus();
    return true;
}

void TExchangeProgress::ExchangeProgress(qint64 bytesReceived) {
    BytesLabel->setText(QStringLiteral("%1 bytes received").arg(QLocale().toString(bytesReceived)));
}

void TExchangeProgress::ExchangeBatch(qint64 done, qint64 total) {
    if (CancelBtn->isEnabled())
        WhatLabel->setText(tr("Uploading your %1 messages to the exchange server: %2 of %3 "
                              "changes done...")
                               .arg(Language)
                               .arg(QLocale().toString(done), QLocale().toString(total)));
}

void TExchangeProgress::CancelBtnClick() {
    if (!Active)
        return;
    WhatLabel->setText(QStringLiteral("Cancelling..."));
    CancelBtn->setEnabled(false);
    Exchange.Cancel();
}

void TExchangeProgress::reject() {
    CancelBtnClick();
}

void TExchangeProgress::closeEvent(QCloseEvent* event) {
    // The window goes when the exchange has ended, not before.
    event->ignore();
    CancelBtnClick();
}

void TExchangeProgress::ExchangeFinished() {
    if (!Active)
        return;
    Active = false;
    disconnect(ProgressLink);
    disconnect(FinishedLink);
    disconnect(BatchLink);
    if (Owner)
        Owner->unsetCursor();
    hide();
    const TExchangeDone done = std::move(Done);
    Done = nullptr;
    if (done)
        done(Exchange.LastResult());
}

} // namespace pellora
