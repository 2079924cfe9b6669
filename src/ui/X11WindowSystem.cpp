#include "ui/X11WindowSystem.h"

#include <QGuiApplication>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>
#include <xcb/xcb.h>

namespace pellora {

namespace {

constexpr xcb_atom_t NoAtom = 0;
constexpr xcb_window_t NoWindow = 0;

template <typename T> using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

xcb_connection_t* QtConnection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* app = qGuiApp;
    if (app == nullptr)
        return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// The root window of the window's screen.
xcb_window_t RootOf(xcb_connection_t* c, xcb_window_t window) {
    XcbReply<xcb_get_geometry_reply_t> reply(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr), &std::free);
    return reply ? reply->root : NoWindow;
}

bool IsMapped(xcb_connection_t* c, xcb_window_t window) {
    XcbReply<xcb_get_window_attributes_reply_t> reply(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr),
        &std::free);
    return reply && reply->map_state != XCB_MAP_STATE_UNMAPPED;
}

// An EWMH window manager announces itself on the root window.
bool HasWindowManager(xcb_connection_t* c, xcb_window_t root, xcb_atom_t check) {
    if (check == NoAtom)
        return false;
    XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, root, check, XCB_ATOM_WINDOW, 0, 1),
                               nullptr),
        &std::free);
    return reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) >= 4;
}

void SendToRoot(xcb_connection_t* c, xcb_window_t root, xcb_window_t window, xcb_atom_t type,
                const std::uint32_t (&data)[5]) {
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    for (int i = 0; i < 5; ++i)
        event.data.data32[i] = data[i];
    xcb_send_event(c, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
}

// Rewrites the window's own state list, keeping every state it holds besides ours.
void WriteStateProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t netWmState,
                        xcb_atom_t skip, bool on) {
    XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(
            c, xcb_get_property(c, 0, window, netWmState, XCB_ATOM_ATOM, 0, 1024), nullptr),
        &std::free);
    std::vector<xcb_atom_t> atoms;
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
        const auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
        int count = xcb_get_property_value_length(reply.get()) / 4;
        for (int i = 0; i < count; ++i)
            if (data[i] != skip)
                atoms.push_back(data[i]);
    }
    if (on)
        atoms.push_back(skip);
    if (atoms.empty())
        xcb_delete_property(c, window, netWmState);
    else
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, netWmState, XCB_ATOM_ATOM, 32,
                            static_cast<std::uint32_t>(atoms.size()), atoms.data());
}

} // namespace

TX11WindowSystem::TX11WindowSystem() : Connection(QtConnection()) {}

bool TX11WindowSystem::Available() {
    return QtConnection() != nullptr;
}

std::uint32_t TX11WindowSystem::Atom(const char* name) {
    if (auto known = Atoms.find(name); known != Atoms.end())
        return known->second;
    xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(Connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(Connection, cookie, nullptr),
                                            &std::free);
    if (!reply || reply->atom == NoAtom)
        return NoAtom;
    Atoms.emplace(name, reply->atom);
    return reply->atom;
}

bool TX11WindowSystem::SetSkipTaskbar(QWidget* window, bool skip) {
    if (Connection == nullptr || window == nullptr || window->internalWinId() == 0)
        return false;
    auto id = static_cast<xcb_window_t>(window->internalWinId());
    xcb_window_t root = RootOf(Connection, id);
    xcb_atom_t netWmState = Atom("_NET_WM_STATE");
    xcb_atom_t skipAtom = Atom("_NET_WM_STATE_SKIP_TASKBAR");
    if (root == NoWindow || netWmState == NoAtom || skipAtom == NoAtom)
        return false;
    if (IsMapped(Connection, id) &&
        HasWindowManager(Connection, root, Atom("_NET_SUPPORTING_WM_CHECK"))) {
        // A managed window's state belongs to the window manager: ask it.
        const std::uint32_t remove = 0, add = 1, fromApplication = 1;
        SendToRoot(Connection, root, id, netWmState,
                   {skip ? add : remove, skipAtom, NoAtom, fromApplication, 0});
    } else {
        WriteStateProperty(Connection, id, netWmState, skipAtom, skip);
    }
    xcb_flush(Connection);
    return true;
}

bool TX11WindowSystem::RequestActivation(QWidget* window) {
    if (Connection == nullptr || window == nullptr || window->internalWinId() == 0)
        return false;
    auto id = static_cast<xcb_window_t>(window->internalWinId());
    xcb_window_t root = RootOf(Connection, id);
    xcb_atom_t active = Atom("_NET_ACTIVE_WINDOW");
    if (root == NoWindow || active == NoAtom || !IsMapped(Connection, id) ||
        !HasWindowManager(Connection, root, Atom("_NET_SUPPORTING_WM_CHECK")))
        return false;
    const std::uint32_t fromUser = 2;
    SendToRoot(Connection, root, id, active, {fromUser, XCB_CURRENT_TIME, NoWindow, 0, 0});
    xcb_flush(Connection);
    return true;
}

} // namespace pellora
