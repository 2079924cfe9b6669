#pragma once

#include "ui/WindowSystem.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>

struct xcb_connection_t;

namespace pellora {

class TX11DesktopWatch;

// The window system requests over Qt's own X connection, in the EWMH way: a mapped
// window's state and activation are asked of the window manager; an unmapped window (or
// one without a window manager) carries its state itself. Made where Qt does not run on
// xcb, it does nothing.
class TX11WindowSystem : public TWindowSystem {
public:
    TX11WindowSystem();
    ~TX11WindowSystem() override;

    // Qt runs on xcb and has its connection.
    static bool Available();

    bool SetSkipTaskbar(QWidget* window, bool skip) override;
    bool RequestActivation(QWidget* window) override;

    bool WatchDesktop(const std::function<void()>& changed) override;
    TDesktopSigns DesktopSigns() override;
    void RefreshDesktopSigns() override;
    std::optional<std::chrono::milliseconds> IdleTime() override;
    bool WatchIdle(std::chrono::milliseconds threshold,
                   const std::function<void(bool)>& idle) override;

private:
    // The watch over a connection of its own, made on first use; null when the display
    // cannot be reached.
    TX11DesktopWatch* Watch();

    // Interned once per name: every interning is a round trip to the server.
    std::uint32_t Atom(const char* name);

    xcb_connection_t* Connection = nullptr;
    std::map<std::string, std::uint32_t> Atoms;
    std::unique_ptr<TX11DesktopWatch> DesktopWatch;
    bool WatchTried = false;
};

} // namespace pellora
