#include "ui/Cloak.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#if __has_include(<xcb/xcb.h>)
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#define PELLORA_HAVE_XCB 1
#endif

namespace pellora {

namespace {

enum class TaskbarChoice { Untouched, Shown, Hidden };
TaskbarChoice Choice = TaskbarChoice::Untouched;

// Normal windows and dialogs appear in a taskbar; menus, tool tips and the like never do.
bool IsTaskbarWindow(const QWidget* widget) {
    if (widget == nullptr || !widget->isWindow())
        return false;
    switch (widget->windowType()) {
    case Qt::Window:
    case Qt::Dialog:
    case Qt::Tool:
        return true;
    default:
        return false;
    }
}

#ifdef PELLORA_HAVE_XCB

constexpr xcb_atom_t NoAtom = 0;
constexpr xcb_window_t NoWindow = 0;

xcb_connection_t* Connection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* app = qGuiApp;
    if (app == nullptr)
        return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(c, cookie, nullptr), &std::free);
    return reply ? reply->atom : NoAtom;
}

// The root window of the window's screen.
xcb_window_t RootOf(xcb_connection_t* c, xcb_window_t window) {
    std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> reply(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr), &std::free);
    return reply ? reply->root : NoWindow;
}

bool IsMapped(xcb_connection_t* c, xcb_window_t window) {
    std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> reply(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr),
        &std::free);
    return reply && reply->map_state != XCB_MAP_STATE_UNMAPPED;
}

// An EWMH window manager announces itself on the root window.
bool HasWindowManager(xcb_connection_t* c, xcb_window_t root) {
    xcb_atom_t check = Atom(c, "_NET_SUPPORTING_WM_CHECK");
    if (check == NoAtom)
        return false;
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
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
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
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

#endif

// Applies the last choice to every top-level window at the moment it is shown. The show
// event comes before the window is mapped, so the window manager finds the state on the
// window when it takes the window on.
class TaskbarFollower : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && Choice != TaskbarChoice::Untouched &&
            watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            if (IsTaskbarWindow(widget))
                SetSkipTaskbar(widget, Choice == TaskbarChoice::Hidden);
        }
        return false;
    }
};

void Follow() {
    static QObject* follower = nullptr;
    if (follower != nullptr || qApp == nullptr)
        return;
    // Owned by the application object, so it goes with it.
    follower = new TaskbarFollower(qApp);
    QObject::connect(follower, &QObject::destroyed, [] { follower = nullptr; });
    qApp->installEventFilter(follower);
}

void ApplyToAll(bool skip) {
    if (qApp == nullptr)
        return;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (IsTaskbarWindow(widget) && widget->internalWinId() != 0)
            SetSkipTaskbar(widget, skip);
}

} // namespace

void HideTaskbarButton() {
    Choice = TaskbarChoice::Hidden;
    Follow();
    ApplyToAll(true);
}

void ShowTaskbarButton() {
    Choice = TaskbarChoice::Shown;
    Follow();
    ApplyToAll(false);
}

bool TaskbarButtonShown() {
    return Choice != TaskbarChoice::Hidden;
}

bool SetSkipTaskbar(QWidget* window, bool skip) {
#ifdef PELLORA_HAVE_XCB
    xcb_connection_t* c = Connection();
    if (c == nullptr || window == nullptr || window->internalWinId() == 0)
        return false;
    auto id = static_cast<xcb_window_t>(window->internalWinId());
    xcb_window_t root = RootOf(c, id);
    xcb_atom_t netWmState = Atom(c, "_NET_WM_STATE");
    xcb_atom_t skipAtom = Atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    if (root == NoWindow || netWmState == NoAtom || skipAtom == NoAtom)
        return false;
    if (IsMapped(c, id) && HasWindowManager(c, root)) {
        // A managed window's state belongs to the window manager: ask it.
        const std::uint32_t remove = 0, add = 1, fromApplication = 1;
        SendToRoot(c, root, id, netWmState,
                   {skip ? add : remove, skipAtom, NoAtom, fromApplication, 0});
    } else {
        WriteStateProperty(c, id, netWmState, skipAtom, skip);
    }
    xcb_flush(c);
    return true;
#else
    (void)window;
    (void)skip;
    return false;
#endif
}

void BringWindowToFront(QWidget* window) {
    if (window == nullptr)
        return;
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    if (!window->isVisible())
        window->show();
    window->raise();
#ifdef PELLORA_HAVE_XCB
    xcb_connection_t* c = Connection();
    if (c != nullptr && window->internalWinId() != 0) {
        auto id = static_cast<xcb_window_t>(window->internalWinId());
        xcb_window_t root = RootOf(c, id);
        xcb_atom_t active = Atom(c, "_NET_ACTIVE_WINDOW");
        if (root != NoWindow && active != NoAtom && IsMapped(c, id) && HasWindowManager(c, root)) {
            const std::uint32_t fromUser = 2;
            SendToRoot(c, root, id, active, {fromUser, XCB_CURRENT_TIME, NoWindow, 0, 0});
            xcb_flush(c);
            return;
        }
    }
#endif
    window->activateWindow();
}

} // namespace pellora
