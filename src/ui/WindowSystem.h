#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace pellora {

// What the program asks of the window system beyond Qt: the taskbar hint, activation on the
// user's behalf, and what the desktop shows of the user's situation (a fullscreen window, the
// screen saver switched off, time without input). X11 (also XWayland) has an implementation;
// elsewhere, and in tests that want no window manager involved, TNoWindowSystem does nothing
// and knows nothing.
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

    // What the desktop shows that asks not to interrupt the user.
    struct TDesktopSigns {
        bool Fullscreen = false; // the active window is fullscreen
        // The screen saver was switched off while the program runs (as video players and
        // presentation programs do); one already off at start is the user's setting.
        bool ScreenSaverOff = false;
        bool operator==(const TDesktopSigns&) const = default;
    };
    // Starts following the signs; `changed` runs on the UI thread whenever DesktopSigns()
    // changes. False where this window system cannot tell.
    virtual bool WatchDesktop(const std::function<void()>& changed) {
        (void)changed;
        return false;
    }
    virtual TDesktopSigns DesktopSigns() { return {}; }
    // Reads again what the window system tells through no event (the screen saver's switch).
    virtual void RefreshDesktopSigns() {}
    // Time since the last keyboard or mouse input; nothing where that cannot be known.
    virtual std::optional<std::chrono::milliseconds> IdleTime() { return std::nullopt; }
    // Calls `idle(true)` once there has been no input for `threshold`, and `idle(false)` at
    // the first input after that, each once per change; a zero threshold stops it. False
    // where the window system cannot tell without being asked again and again.
    virtual bool WatchIdle(std::chrono::milliseconds threshold,
                           const std::function<void(bool)>& idle) {
        (void)threshold;
        (void)idle;
        return false;
    }
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
