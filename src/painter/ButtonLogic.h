#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <functional>

class QAbstractButton;
class QPainter;

namespace pellora {

// Draws a hooked button in a state (1 normal, 2 pressed, 3 disabled, 4 hot or focused) into
// the rectangle.
using TButtonPaintHandler =
    std::function<void(QPainter& painter, int state, QAbstractButton* control, const QRect& rect)>;

// One hooked control: an event filter that takes over the control's painting and follows its
// state from the events it gets. The control keeps handling its events itself (so clicks,
// Space, the default button and screen readers work as for any button); the hook only
// watches, and draws in the control's stead. Destroying the hook, or the control going away,
// gives the control its own painting back.
class TGenericLogic : public QObject {
    Q_OBJECT
public:
    TGenericLogic(QWidget* control, TButtonPaintHandler paintHandler);
    ~TGenericLogic() override;
    TGenericLogic(const TGenericLogic&) = delete;
    TGenericLogic& operator=(const TGenericLogic&) = delete;

    // The hooked control; null once it has been destroyed (the hook is then stale).
    QWidget* Control() const { return Target.data(); }
    // The control's address when it was hooked: the list's sort key, never dereferenced.
    const QObject* Key() const { return KeyAddress; }

    // Asks for a repaint of the whole control.
    virtual void Invalidate();
    // Draws the control in its current state.
    virtual void Paint(QPainter& painter, const QRect& rect) = 0;

protected:
    // Sees every event before the control does; true swallows it.
    virtual bool BeforeMessage(QEvent* event);
    // Follows the control's state from an event it is about to handle.
    virtual void AfterMessage(QEvent* event) = 0;

    bool eventFilter(QObject* watched, QEvent* event) override;

    TButtonPaintHandler PaintHandler;

private:
    QPointer<QWidget> Target;
    const QObject* KeyAddress;
};

// The hook of a push button: hot while the mouse is over it, pressed from a left button press
// or Space until their release (or the mouse leaving), focused and enabled as the button is.
class TButtonLogic : public TGenericLogic {
    Q_OBJECT
public:
    static constexpr std::uint8_t HotFlag = 1;
    static constexpr std::uint8_t PressedFlag = 2;

    TButtonLogic(QAbstractButton* button, TButtonPaintHandler paintHandler);

    // 3 disabled, else 2 pressed, else 4 focused or hot, else 1.
    int State() const;
    std::uint8_t Flags() const { return FlagBits; }
    bool Focused() const { return HasFocus; }
    bool Enabled() const { return IsEnabled; }

    void Paint(QPainter& painter, const QRect& rect) override;

protected:
    void AfterMessage(QEvent* event) override;

private:
    void SetFlag(std::uint8_t flag, bool on);
    QAbstractButton* Button() const;

    bool HasFocus = false;
    bool IsEnabled = true;
    std::uint8_t FlagBits = 0;
};

} // namespace pellora
