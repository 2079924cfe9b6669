#pragma once

#include "ui/WindowSystem.h"

#include <cstdint>
#include <map>
#include <string>

struct xcb_connection_t;

namespace pellora {

// The window system requests over Qt's own X connection, in the EWMH way: a mapped
// window's state and activation are asked of the window manager; an unmapped window (or
// one without a window manager) carries its state itself. Made where Qt does not run on
// xcb, it does nothing.
class TX11WindowSystem : public TWindowSystem {
public:
    TX11WindowSystem();

    // Qt runs on xcb and has its connection.
    static bool Available();

    bool SetSkipTaskbar(QWidget* window, bool skip) override;
    bool RequestActivation(QWidget* window) override;

private:
    // Interned once per name: every interning is a round trip to the server.
    std::uint32_t Atom(const char* name);

    xcb_connection_t* Connection = nullptr;
    std::map<std::string, std::uint32_t> Atoms;
};

} // namespace pellora
