#pragma once

namespace pellora::test {

// True when a popup (a window the window manager does not manage, such as an open menu) of
// that process, taller than minHeight, is on the screen of $DISPLAY.
bool PopupShown(long pid, int minHeight);

} // namespace pellora::test
