#pragma once

class QWidget;

namespace pellora {

// The program's taskbar entry. On X11 every top-level window of the program carries
// _NET_WM_STATE_SKIP_TASKBAR while the entry is hidden; windows shown later follow the
// last choice. Without X11 these calls do nothing.

// Removes the taskbar entry of every top-level window, now and for windows shown later.
// Calling it again changes nothing.
void HideTaskbarButton();
// Gives every top-level window a taskbar entry, now and for windows shown later.
void ShowTaskbarButton();
// Whether the last of the two calls above was ShowTaskbarButton (true before either ran).
bool TaskbarButtonShown();

// Sets or clears the skip-taskbar state of one top-level window: on the window itself
// while it is unmapped, through the window manager while it is mapped. False where there
// is no X11 or the widget has no native window.
bool SetSkipTaskbar(QWidget* window, bool skip);

// Restores the window when minimised, raises it and asks the window manager to make it
// the active window. The request is marked as coming from the user, since it answers the
// user starting the program again; a window manager's focus-stealing guard would
// otherwise refuse it.
void BringWindowToFront(QWidget* window);

} // namespace pellora
