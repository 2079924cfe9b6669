#pragma once

#include "net/MsgExchange.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace pellora {

class TNetExchange;

// The outcome of an exchange a page started, delivered on the UI thread.
using TExchangeDone = std::function<void(const TExchangeResult& result)>;

// The small window that stands over the messages dialog while one of its exchanges runs on
// the exchange worker: what runs, the bytes received so far, and Cancel. It is modal to the
// dialog alone, so the dialog takes no other input meanwhile while the status strip and the
// rest of the desktop stay usable; the dialog shows the busy cursor.
class TExchangeProgress : public QDialog {
    Q_OBJECT
public:
    TExchangeProgress(TNetExchange& exchange, QWidget* owner);

    // Starts the exchange and shows the window; once the exchange has ended the window goes
    // and `done` gets the outcome. False, and nothing started, while an exchange runs.
    bool Start(TExchangeKind kind, const QString& languageCode, TExchangeDone done);
    bool Running() const { return Active; }

    QLabel* WhatLabel = nullptr;
    QLabel* BytesLabel = nullptr;
    QProgressBar* Bar = nullptr;
    QPushButton* CancelBtn = nullptr;

    // Ends the exchange as cancelled; the window stays until the worker has let go of it.
    void CancelBtnClick();

protected:
    // Escape and the window's close box cancel too.
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void ExchangeProgress(qint64 bytesReceived);
    void ExchangeBatch(qint64 done, qint64 total);
    void ExchangeFinished();

    TNetExchange& Exchange;
    QPointer<QWidget> Owner;
    TExchangeDone Done;
    bool Active = false;
    QMetaObject::Connection ProgressLink;
    QMetaObject::Connection FinishedLink;
    QMetaObject::Connection BatchLink;
    QString Language; // of the exchange under way
};

} // namespace pellora
