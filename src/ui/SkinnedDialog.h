#pragma once

#include "ui/DialogSetup.h"

#include <QDialog>

namespace pellora {

class TProgramContext;

// The frame the program's dialogs share: the context they work with, the skin's background,
// and one way out. Every way of leaving (a button that closes, accept(), reject() and so
// Escape, done(), the close box) passes closeEvent, and the opener hears of it once, through
// QDialog::finished, while the dialog still lives.
class TSkinnedDialog : public QDialog {
    Q_OBJECT
public:
    explicit TSkinnedDialog(TProgramContext& context, QWidget* parent = nullptr,
                            Qt::WindowFlags flags = FixedDialogFlags);

    // accept() and reject() end here: the window closes, so what a dialog does in its
    // closeEvent happens on every way out.
    void done(int result) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    // A dialog that does more on closing overrides it and calls this one last.
    void closeEvent(QCloseEvent* event) override;
    // Centres the window on the primary screen's free area.
    void CentreOnScreen();

    TProgramContext& Context;
};

} // namespace pellora
