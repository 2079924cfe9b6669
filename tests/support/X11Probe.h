#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Reads windows of the X display named by $DISPLAY (the with-x11 harness sets it) through a
// connection of its own, independent of the program under test. Programs that use it link
// X11 (X11::X11).

namespace pellora::test {

using XWindowId = unsigned long;

struct WindowBox {
    int X = 0; // on the screen
    int Y = 0;
    int Width = 0;
    int Height = 0;
};

// A copy of part of the screen; pixels are 0xRRGGBB.
struct ScreenImage {
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
    std::vector<std::uint32_t> Pixels;
    std::uint32_t At(int screenX, int screenY) const {
        return Pixels[static_cast<std::size_t>(screenY - Y) * static_cast<std::size_t>(Width) +
                      static_cast<std::size_t>(screenX - X)];
    }
};

class X11Probe {
public:
    // Opens $DISPLAY; throws std::runtime_error when there is none.
    X11Probe();
    ~X11Probe();
    X11Probe(const X11Probe&) = delete;
    X11Probe& operator=(const X11Probe&) = delete;

    XWindowId Root() const;
    int ScreenWidth() const;
    int ScreenHeight() const;

    // Windows the window manager manages (_NET_CLIENT_LIST), oldest first.
    std::vector<XWindowId> ClientWindows();
    // Managed windows whose WM_CLASS class is `className`, optionally only those of one
    // process (_NET_WM_PID).
    std::vector<XWindowId> ClientsOfClass(const std::string& className, long pid = 0);

    // Position on the screen and size; nothing when the window is gone.
    std::optional<WindowBox> Geometry(XWindowId window);
    bool IsShown(XWindowId window); // mapped and viewable
    // _NET_WM_NAME, else WM_NAME.
    std::string Name(XWindowId window);
    // WM_CLASS: instance, then class.
    std::pair<std::string, std::string> WmClass(XWindowId window);
    long Pid(XWindowId window);
    // Names of the atoms in _NET_WM_STATE.
    std::vector<std::string> NetWmState(XWindowId window);
    bool HasNetWmState(XWindowId window, const std::string& state);
    XWindowId ActiveWindow();

    // A plain top-level window of the probe's own, mapped; destroyed with the probe.
    XWindowId CreateWindow(int x, int y, int width, int height, const std::string& title);
    // Asks the window manager to activate the window, as a pager would.
    void Activate(XWindowId window);

    std::optional<ScreenImage> Grab(int x, int y, int width, int height);

    // Round trip, so the probe sees the latest state.
    void Sync();

private:
    struct Impl;
    Impl* P;
};

// Calls `done` every 20 ms until it is true or the time is up; the last answer.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// Colour channels differ by at most `tolerance`.
bool SameColor(std::uint32_t a, std::uint32_t b, int tolerance = 0);
std::string ColorText(std::uint32_t rgb); // "#RRGGBB"

} // namespace pellora::test
