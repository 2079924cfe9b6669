#pragma once

#include <QObject>
#include <memory>

class QWidget;

namespace pellora {

class TWindowSystem;

// A top-level window whose boolean property of this name is true never gets a taskbar entry
// (the status strip, notices): only windows the user works in come and go there.
inline constexpr const char* NoTaskbarProperty = "pelloraNoTaskbar";

// The program's taskbar entry. While it is hidden every top-level window of the program
// carries the skip-taskbar state; windows shown later follow the last choice. Windows marked
// with NoTaskbarProperty carry it always. What the window system cannot do is left undone.
// The program context holds the one of the run.
class TCloak {
public:
    // The window system must outlive the cloak.
    explicit TCloak(TWindowSystem& windowSystem);
    ~TCloak();
    TCloak(const TCloak&) = delete;
    TCloak& operator=(const TCloak&) = delete;

    // Removes the taskbar entry of every top-level window, now and for windows shown later.
    // Calling it again changes nothing.
    void HideTaskbarButton();
    // Gives every top-level window but the marked ones a taskbar entry, now and for windows
    // shown later.
    void ShowTaskbarButton();
    // Whether the last of the two calls above was ShowTaskbarButton (true before either ran).
    bool TaskbarButtonShown() const;

    // Sets or clears the skip-taskbar state of one top-level window; false when the window
    // system cannot.
    bool SetSkipTaskbar(QWidget* window, bool skip);

    // Restores the window when minimised, raises it and asks the window manager to make it
    // the active window, as the user's request: it answers the user starting the program
    // again, which a focus-stealing guard would otherwise refuse.
    void BringWindowToFront(QWidget* window);

private:
    enum class TChoice { Untouched, Shown, Hidden };
    class TFollower;

    void Follow();
    void ApplyToAll(bool skip);

    TWindowSystem& Windows;
    TChoice Choice = TChoice::Untouched;
    std::unique_ptr<QObject> Follower;
};

} // namespace pellora
