#include "ui/SkinnedDialog.h"

#include "painter/WindowPainter.h"
#include "ui/ProgramContext.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace pellora {

TSkinnedDialog::TSkinnedDialog(TProgramContext& context, QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent, flags), Context(context) {}

void TSkinnedDialog::done(int result) {
    setResult(result);
    close();
}

void TSkinnedDialog::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Context.Painter().PaintBackground(painter, rect());
}

void TSkinnedDialog::closeEvent(QCloseEvent* event) {
    event->accept();
    // Inside a closing QDialog only hides the window and emits accepted or rejected, then
    // finished: the one notice every opener listens to.
    QDialog::done(result());
}

void TSkinnedDialog::CentreOnScreen() {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.left() + (area.width() - width()) / 2,
             area.top() + (area.height() - height()) / 2);
    }
}

} // namespace pellora
