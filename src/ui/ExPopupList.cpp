#include "ui/ExPopupList.h"

#include <QApplication>
#include <QMenu>
#include <QWidget>

namespace pellora {

TExPopupList::TExPopupList(QCoreApplication& app) {
    app.installEventFilter(this);
}

bool TExPopupList::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::Show || type == QEvent::Hide) && watched->isWidgetType() &&
        qobject_cast<QMenu*>(watched) != nullptr) {
        if (QWidget* active = QApplication::activeWindow()) {
            if (type == QEvent::Show) {
                QEvent enter(MSG_MENU_LOOP_ENTER);
                QApplication::sendEvent(active, &enter);
            } else {
                QEvent exit(MSG_MENU_LOOP_EXIT);
                QApplication::sendEvent(active, &exit);
                QEvent closed(MSG_MENU_CLOSED);
                QApplication::sendEvent(active, &closed);
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace pellora
