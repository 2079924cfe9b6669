#pragma once

#include <QWidget>

namespace pellora {

// Stands in for a dialog that is not part of this version yet: a small window with the
// dialog's title, a line of explanation and a Close button. It is opened and closed exactly
// like the real dialog will be, so the status window's bookkeeping works already.
class TPlaceholderDialog : public QWidget {
    Q_OBJECT
public:
    TPlaceholderDialog(const QString& title, const QString& text, QWidget* parent = nullptr);

signals:
    void Closed(QWidget* sender);

protected:
    void closeEvent(QCloseEvent* event) override;
};

} // namespace pellora
