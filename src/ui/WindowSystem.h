#pragma once

#include <memory>

class QWidget;

namespace pellora {

// What the program asks of the window system beyond Qt: the taskbar hint and activation on
// the user's behalf. X11 (also XWayland) has an implementation; elsewhere, and in tests that
// want no window manager involved, TNoWindowSystem does nothing.
class TWindowSystem {
public:
    virtual ~TWindowSystem() = default;

    // Sets or clears the window's skip-taskbar state. False when it cannot be done (no
    // native window yet, or no such window system).
    virtual bool SetSkipTaskbar(QWidget* window, bool skip) = 0;
    // Asks the window manager to make the mapped window the active one, as a request from
    // the user (a focus-stealing guard would refuse one from the program). False when there
    // is nobody to ask; the caller then falls back on Qt's own activation.
    virtual bool RequestActivation(QWidget* window) = 0;
};

class TNoWindowSystem : public TWindowSystem {
public:
    bool SetSkipTaskbar(QWidget* window, bool skip) override;
    bool RequestActivation(QWidget* window) override;
};

// The X11 implementation when Qt runs on xcb, otherwise TNoWindowSystem. Needs the
// application object.
std::unique_ptr<TWindowSystem> MakeWindowSystem();

} // namespace pellora
