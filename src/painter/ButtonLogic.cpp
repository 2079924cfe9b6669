#include "painter/ButtonLogic.h"

#include <QAbstractButton>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace pellora {

TGenericLogic::TGenericLogic(QWidget* control, TButtonPaintHandler paintHandler)
    : PaintHandler(std::move(paintHandler)), Target(control), KeyAddress(control) {
    if (control != nullptr) {
        control->installEventFilter(this);
        control->update();
    }
}

TGenericLogic::~TGenericLogic() {
    // Unhooking: the control paints itself again.
    if (QWidget* control = Target.data()) {
        control->removeEventFilter(this);
        control->update();
    }
}

void TGenericLogic::Invalidate() {
    if (QWidget* control = Target.data())
        control->update();
}

bool TGenericLogic::BeforeMessage(QEvent* event) {
    QWidget* control = Target.data();
    // Without a paint handler the control keeps its own look.
    if (event->type() != QEvent::Paint || control == nullptr || !PaintHandler)
        return false;
    QPainter painter(control);
    Paint(painter, control->rect());
    return true;
}

bool TGenericLogic::eventFilter(QObject* watched, QEvent* event) {
    if (watched != Target.data())
        return false;
    if (BeforeMessage(event))
        return true;
    AfterMessage(event);
    return false;
}

TButtonLogic::TButtonLogic(QAbstractButton* button, TButtonPaintHandler paintHandler)
    : TGenericLogic(button, std::move(paintHandler)) {
    if (button != nullptr) {
        HasFocus = button->hasFocus();
        IsEnabled = button->isEnabled();
    }
}

QAbstractButton* TButtonLogic::Button() const {
    // Not a button any more while it is being destroyed: the hook then keeps out of the way.
    return qobject_cast<QAbstractButton*>(Control());
}

int TButtonLogic::State() const {
    const QAbstractButton* button = Button();
    const bool enabled = button != nullptr ? button->isEnabled() : IsEnabled;
    const bool focused = button != nullptr ? button->hasFocus() : HasFocus;
    // Pressed also when the button is held down some other way (a screen reader's press
    // action, an animated click).
    const bool pressed = (FlagBits & PressedFlag) != 0 || (button != nullptr && button->isDown());
    if (!enabled)
        return 3;
    if (pressed)
        return 2;
    if (focused || (FlagBits & HotFlag) != 0)
        return 4;
    return 1;
}

void TButtonLogic::Paint(QPainter& painter, const QRect& rect) {
    QAbstractButton* button = Button();
    if (button == nullptr)
        return;
    HasFocus = button->hasFocus();
    IsEnabled = button->isEnabled();
    if (PaintHandler)
        PaintHandler(painter, State(), button, rect);
}

void TButtonLogic::SetFlag(std::uint8_t flag, bool on) {
    const std::uint8_t before = FlagBits;
    FlagBits = on ? static_cast<std::uint8_t>(FlagBits | flag)
                  : static_cast<std::uint8_t>(FlagBits & ~flag);
    if (FlagBits != before)
        Invalidate();
}

void TButtonLogic::AfterMessage(QEvent* event) {
    QAbstractButton* button = Button();
    if (button == nullptr)
        return;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && button->isEnabled())
            SetFlag(PressedFlag, true);
        break;
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            SetFlag(PressedFlag, false);
        break;
    case QEvent::KeyPress: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space && !key->isAutoRepeat() && button->isEnabled())
            SetFlag(PressedFlag, true);
        break;
    }
    case QEvent::KeyRelease: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space && !key->isAutoRepeat())
            SetFlag(PressedFlag, false);
        break;
    }
    case QEvent::MouseMove:
        if (button->isEnabled() &&
            button->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint()))
            SetFlag(HotFlag, true);
        break;
    case QEvent::Enter:
        if (button->isEnabled())
            SetFlag(HotFlag, true);
        break;
    case QEvent::Leave:
        if (button->isEnabled())
            SetFlag(static_cast<std::uint8_t>(HotFlag | PressedFlag), false);
        break;
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::EnabledChange:
    case QEvent::Show:
        if (event->type() == QEvent::EnabledChange && !button->isEnabled())
            FlagBits = 0;
        Invalidate();
        break;
    default:
        break;
    }
}

} // namespace pellora
