#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

namespace pellora {

// Events a popup menu's opening and closing send to the active window, so a window can
// tell that one of its menus is open.
inline constexpr QEvent::Type MSG_MENU_LOOP_ENTER = static_cast<QEvent::Type>(0xAFFE);
inline constexpr QEvent::Type MSG_MENU_LOOP_EXIT = static_cast<QEvent::Type>(0xAFFD);
inline constexpr QEvent::Type MSG_MENU_CLOSED = static_cast<QEvent::Type>(0xAFFF);

// Watches every popup menu of the application and relays its opening and closing to the
// active window as the three events above, from its making to its end. One is made for the
// application at start-up.
class TExPopupList : public QObject {
public:
    explicit TExPopupList(QCoreApplication& app);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace pellora
