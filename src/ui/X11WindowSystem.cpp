#include "ui/X11WindowSystem.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>
#include <xcb/screensaver.h>
#include <xcb/sync.h>
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

std::int64_t FromSync(xcb_sync_int64_t value) {
    return static_cast<std::int64_t>((std::uint64_t(std::uint32_t(value.hi)) << 32) | value.lo);
}

xcb_sync_int64_t ToSync(std::int64_t value) {
    return {static_cast<std::int32_t>(value >> 32), static_cast<std::uint32_t>(value)};
}

} // namespace

// Follows what the X server shows of the user's situation: the active window's fullscreen
// state through property changes on the root and the active window, the screen saver's
// switch and the time without input (MIT-SCREEN-SAVER), and absence through an alarm on the
// server's idle counter (SYNC), so nothing is asked again and again. It has a connection of
// its own: the event masks it sets on other programs' windows and the root never touch Qt's.
class TX11DesktopWatch {
public:
    ~TX11DesktopWatch() {
        Notifier.reset();
        if (C != nullptr)
            xcb_disconnect(C);
    }

    bool Open() {
        C = xcb_connect(nullptr, nullptr);
        if (C == nullptr || xcb_connection_has_error(C) != 0)
            return false;
        const xcb_setup_t* setup = xcb_get_setup(C);
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
        if (screens.rem == 0)
            return false;
        Root = screens.data->root;
        NetActiveWindow = Intern("_NET_ACTIVE_WINDOW");
        NetWmState = Intern("_NET_WM_STATE");
        NetWmStateFullscreen = Intern("_NET_WM_STATE_FULLSCREEN");
        const xcb_query_extension_reply_t* saver = xcb_get_extension_data(C, &xcb_screensaver_id);
        HasScreenSaver = saver != nullptr && saver->present != 0;
        InitSync();
        Notifier =
            std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(C), QSocketNotifier::Read);
        QObject::connect(Notifier.get(), &QSocketNotifier::activated, [this] { Drain(); });
        return true;
    }

    bool StartDesktop(std::function<void()> changed) {
        Changed = std::move(changed);
        if (Watching)
            return true;
        Watching = true;
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(C, Root, XCB_CW_EVENT_MASK, &mask);
        FollowActiveWindow();
        ReadScreenSaver();
        Drain();
        return true;
    }

    TWindowSystem::TDesktopSigns Signs() const { return Current; }

    void Refresh() {
        if (!Watching)
            return;
        const auto before = Current;
        ReadScreenSaver();
        Tell(before);
        Drain();
    }

    std::optional<std::chrono::milliseconds> Idle() {
        if (!HasScreenSaver)
            return std::nullopt;
        XcbReply<xcb_screensaver_query_info_reply_t> info(
            xcb_screensaver_query_info_reply(C, xcb_screensaver_query_info(C, Root), nullptr),
            &std::free);
        Drain();
        if (!info)
            return std::nullopt;
        return std::chrono::milliseconds(info->ms_since_user_input);
    }

    bool StartIdle(std::chrono::milliseconds threshold, std::function<void(bool)> idle) {
        if (IdleCounter == 0)
            return false;
        IdleChanged = std::move(idle);
        Threshold = threshold;
        if (Threshold.count() <= 0) {
            if (Alarm != 0)
                xcb_sync_destroy_alarm(C, Alarm);
            Alarm = 0;
            xcb_flush(C);
            return true;
        }
        // Armed for the way into absence first; a user already away is told at once, as the
        // comparison holds from the start.
        Away = false;
        Arm();
        return true;
    }

private:
    xcb_atom_t Intern(const char* name) {
        XcbReply<xcb_intern_atom_reply_t> reply(
            xcb_intern_atom_reply(
                C, xcb_intern_atom(C, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
                nullptr),
            &std::free);
        return reply ? reply->atom : NoAtom;
    }

    void InitSync() {
        const xcb_query_extension_reply_t* sync = xcb_get_extension_data(C, &xcb_sync_id);
        if (sync == nullptr || sync->present == 0)
            return;
        XcbReply<xcb_sync_initialize_reply_t> version(
            xcb_sync_initialize_reply(C, xcb_sync_initialize(C, 3, 1), nullptr), &std::free);
        if (!version)
            return;
        XcbReply<xcb_sync_list_system_counters_reply_t> list(
            xcb_sync_list_system_counters_reply(C, xcb_sync_list_system_counters(C), nullptr),
            &std::free);
        if (!list)
            return;
        // Read by hand: libxcb's iterator over this list misses the padding after each name.
        // Each entry: counter (4), resolution (8), name length (2), name, padding to 4.
        const auto* at = reinterpret_cast<const std::uint8_t*>(list.get() + 1);
        const std::uint8_t* end = at + std::size_t(list->length) * 4;
        for (std::uint32_t i = 0; i < list->counters_len && at + 14 <= end; ++i) {
            std::uint32_t counter = 0;
            std::uint16_t length = 0;
            std::memcpy(&counter, at, 4);
            std::memcpy(&length, at + 12, 2);
            if (at + 14 + length > end)
                break;
            const std::string name(reinterpret_cast<const char*>(at + 14), length);
            if (name == "IDLETIME") {
                IdleCounter = counter;
                SyncEventBase = sync->first_event;
                break;
            }
            at += (14 + std::size_t(length) + 3) & ~std::size_t(3);
        }
    }

    // One alarm on the idle counter: while the user is here it fires when the counter
    // reaches the threshold; while away, when input sets it back below.
    void Arm() {
        xcb_sync_create_alarm_value_list_t values{};
        values.counter = IdleCounter;
        values.valueType = XCB_SYNC_VALUETYPE_ABSOLUTE;
        values.value = ToSync(Away ? Threshold.count() - 1 : Threshold.count());
        values.testType =
            Away ? XCB_SYNC_TESTTYPE_NEGATIVE_COMPARISON : XCB_SYNC_TESTTYPE_POSITIVE_COMPARISON;
        values.delta = ToSync(0);
        values.events = 1;
        const std::uint32_t mask = XCB_SYNC_CA_COUNTER | XCB_SYNC_CA_VALUE_TYPE |
                                   XCB_SYNC_CA_VALUE | XCB_SYNC_CA_TEST_TYPE | XCB_SYNC_CA_DELTA |
                                   XCB_SYNC_CA_EVENTS;
        if (Alarm == 0) {
            Alarm = xcb_generate_id(C);
            xcb_sync_create_alarm_aux(C, Alarm, mask, &values);
        } else {
            xcb_sync_change_alarm_value_list_t change{};
            change.counter = values.counter;
            change.valueType = values.valueType;
            change.value = values.value;
            change.testType = values.testType;
            change.delta = values.delta;
            change.events = values.events;
            xcb_sync_change_alarm_aux(C, Alarm, mask, &change);
        }
        xcb_flush(C);
    }

    void FollowActiveWindow() {
        xcb_window_t active = NoWindow;
        XcbReply<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(
                C, xcb_get_property(C, 0, Root, NetActiveWindow, XCB_ATOM_WINDOW, 0, 1), nullptr),
            &std::free);
        if (reply && reply->format == 32 && reply->type == XCB_ATOM_WINDOW &&
            xcb_get_property_value_length(reply.get()) >= 4)
            active = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
        if (active != Active) {
            // Only this connection's mask on those windows changes; a window that is gone
            // answers with an error event, which is let pass.
            const std::uint32_t none = 0, props = XCB_EVENT_MASK_PROPERTY_CHANGE;
            if (Active != NoWindow)
                xcb_change_window_attributes(C, Active, XCB_CW_EVENT_MASK, &none);
            Active = active;
            if (Active != NoWindow)
                xcb_change_window_attributes(C, Active, XCB_CW_EVENT_MASK, &props);
        }
        ReadFullscreen();
    }

    void ReadFullscreen() {
        bool fullscreen = false;
        if (Active != NoWindow) {
            XcbReply<xcb_get_property_reply_t> reply(
                xcb_get_property_reply(
                    C, xcb_get_property(C, 0, Active, NetWmState, XCB_ATOM_ATOM, 0, 64), nullptr),
                &std::free);
            if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
                const auto* atoms =
                    static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
                const int count = xcb_get_property_value_length(reply.get()) / 4;
                fullscreen = std::find(atoms, atoms + count, NetWmStateFullscreen) != atoms + count;
            }
        }
        Current.Fullscreen = fullscreen;
    }

    void ReadScreenSaver() {
        if (!HasScreenSaver)
            return;
        XcbReply<xcb_screensaver_query_info_reply_t> info(
            xcb_screensaver_query_info_reply(C, xcb_screensaver_query_info(C, Root), nullptr),
            &std::free);
        if (!info)
            return;
        const bool off = info->state == XCB_SCREENSAVER_STATE_DISABLED;
        SaverWasOn = SaverWasOn || !off;
        Current.ScreenSaverOff = off && SaverWasOn;
    }

    void Tell(const TWindowSystem::TDesktopSigns& before) {
        if (!(Current == before) && Changed)
            Changed();
    }

    void Drain() {
        if (C == nullptr)
            return;
        // A connection that broke stays readable for ever: stop listening to it.
        if (xcb_connection_has_error(C) != 0) {
            if (Notifier)
                Notifier->setEnabled(false);
            return;
        }
        while (xcb_generic_event_t* event = xcb_poll_for_event(C)) {
            Handle(event);
            std::free(event);
        }
    }

    void Handle(const xcb_generic_event_t* event) {
        const std::uint8_t type = event->response_type & 0x7F;
        if (type == XCB_PROPERTY_NOTIFY && Watching) {
            const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            const auto before = Current;
            if (property->window == Root && property->atom == NetActiveWindow)
                FollowActiveWindow();
            else if (property->window == Active && property->window != NoWindow &&
                     property->atom == NetWmState)
                ReadFullscreen();
            Tell(before);
        } else if (IdleCounter != 0 && type == SyncEventBase + XCB_SYNC_ALARM_NOTIFY) {
            const auto* alarm = reinterpret_cast<const xcb_sync_alarm_notify_event_t*>(event);
            if (alarm->alarm != Alarm || Threshold.count() <= 0)
                return;
            const bool away = FromSync(alarm->counter_value) >= Threshold.count();
            if (away == Away) {
                Arm();
                return;
            }
            Away = away;
            Arm();
            if (IdleChanged)
                IdleChanged(Away);
        }
    }

    xcb_connection_t* C = nullptr;
    std::unique_ptr<QSocketNotifier> Notifier;
    xcb_window_t Root = NoWindow;
    xcb_window_t Active = NoWindow;
    xcb_atom_t NetActiveWindow = NoAtom;
    xcb_atom_t NetWmState = NoAtom;
    xcb_atom_t NetWmStateFullscreen = NoAtom;
    bool HasScreenSaver = false;
    bool SaverWasOn = false;
    bool Watching = false;
    std::function<void()> Changed;
    TWindowSystem::TDesktopSigns Current;
    xcb_sync_counter_t IdleCounter = 0;
    std::uint8_t SyncEventBase = 0;
    xcb_sync_alarm_t Alarm = 0;
    std::chrono::milliseconds Threshold{0};
    bool Away = false;
    std::function<void(bool)> IdleChanged;
};

TX11WindowSystem::TX11WindowSystem() : Connection(QtConnection()) {}

TX11WindowSystem::~TX11WindowSystem() = default;

TX11DesktopWatch* TX11WindowSystem::Watch() {
    if (!WatchTried && Connection != nullptr) {
        WatchTried = true;
        auto watch = std::make_unique<TX11DesktopWatch>();
        if (watch->Open())
            DesktopWatch = std::move(watch);
    }
    return DesktopWatch.get();
}

bool TX11WindowSystem::WatchDesktop(const std::function<void()>& changed) {
    TX11DesktopWatch* watch = Watch();
    return watch != nullptr && watch->StartDesktop(changed);
}

TWindowSystem::TDesktopSigns TX11WindowSystem::DesktopSigns() {
    return DesktopWatch ? DesktopWatch->Signs() : TDesktopSigns{};
}

void TX11WindowSystem::RefreshDesktopSigns() {
    if (DesktopWatch)
        DesktopWatch->Refresh();
}

std::optional<std::chrono::milliseconds> TX11WindowSystem::IdleTime() {
    TX11DesktopWatch* watch = Watch();
    return watch != nullptr ? watch->Idle() : std::nullopt;
}

bool TX11WindowSystem::WatchIdle(std::chrono::milliseconds threshold,
                                 const std::function<void(bool)>& idle) {
    TX11DesktopWatch* watch = Watch();
    return watch != nullptr && watch->StartIdle(threshold, idle);
}

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
