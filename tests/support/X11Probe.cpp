#include "support/X11Probe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace pellora::test {

namespace {

// Windows of the program under test come and go while the probe looks at them; a request
// about a window that has just gone must not end the test process (Xlib's default).
int IgnoreErrors(Display*, XErrorEvent*) {
    return 0;
}

} // namespace

struct X11Probe::Impl {
    Display* D = nullptr;
    int Screen = 0;
    std::vector<Window> Own;

    Atom A(const char* name) { return XInternAtom(D, name, False); }

    // The property's items (32-bit formats come as longs), or nothing.
    std::vector<unsigned long> Longs(Window w, Atom property, Atom type) {
        std::vector<unsigned long> result;
        Atom actualType = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(D, w, property, 0, 4096, False, type, &actualType, &format, &count,
                               &after, &data) == Success &&
            data != nullptr && format == 32) {
            auto* items = reinterpret_cast<unsigned long*>(data);
            result.assign(items, items + count);
        }
        if (data != nullptr)
            XFree(data);
        return result;
    }

    std::string Text(Window w, Atom property, Atom type) {
        std::string result;
        Atom actualType = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(D, w, property, 0, 4096, False, type, &actualType, &format, &count,
                               &after, &data) == Success &&
            data != nullptr && format == 8)
            result.assign(reinterpret_cast<char*>(data), count);
        if (data != nullptr)
            XFree(data);
        return result;
    }
};

X11Probe::X11Probe() : P(new Impl) {
    XSetErrorHandler(IgnoreErrors);
    P->D = XOpenDisplay(nullptr);
    if (P->D == nullptr) {
        delete P;
        throw std::runtime_error("no X display: run the test through tests/support/with-x11");
    }
    P->Screen = DefaultScreen(P->D);
}

X11Probe::~X11Probe() {
    for (Window w : P->Own)
        XDestroyWindow(P->D, w);
    XCloseDisplay(P->D);
    delete P;
}

XWindowId X11Probe::Root() const {
    return RootWindow(P->D, P->Screen);
}

int X11Probe::ScreenWidth() const {
    return DisplayWidth(P->D, P->Screen);
}

int X11Probe::ScreenHeight() const {
    return DisplayHeight(P->D, P->Screen);
}

std::vector<XWindowId> X11Probe::ClientWindows() {
    return P->Longs(Root(), P->A("_NET_CLIENT_LIST"), XA_WINDOW);
}

std::vector<XWindowId> X11Probe::ClientsOfClass(const std::string& className, long pid) {
    std::vector<XWindowId> result;
    for (XWindowId w : ClientWindows())
        if (WmClass(w).second == className && (pid == 0 || Pid(w) == pid))
            result.push_back(w);
    return result;
}

std::optional<WindowBox> X11Probe::Geometry(XWindowId window) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(P->D, window, &attributes) == 0)
        return std::nullopt;
    int x = 0, y = 0;
    Window child = 0;
    if (!XTranslateCoordinates(P->D, window, Root(), 0, 0, &x, &y, &child))
        return std::nullopt;
    return WindowBox{x, y, attributes.width, attributes.height};
}

bool X11Probe::IsShown(XWindowId window) {
    XWindowAttributes attributes;
    return XGetWindowAttributes(P->D, window, &attributes) != 0 &&
           attributes.map_state == IsViewable;
}

std::string X11Probe::Name(XWindowId window) {
    std::string name = P->Text(window, P->A("_NET_WM_NAME"), P->A("UTF8_STRING"));
    return name.empty() ? P->Text(window, XA_WM_NAME, XA_STRING) : name;
}

std::pair<std::string, std::string> X11Probe::WmClass(XWindowId window) {
    std::string raw = P->Text(window, XA_WM_CLASS, XA_STRING);
    std::size_t zero = raw.find('\0');
    if (zero == std::string::npos)
        return {raw, ""};
    std::string cls = raw.substr(zero + 1);
    if (!cls.empty() && cls.back() == '\0')
        cls.pop_back();
    return {raw.substr(0, zero), cls};
}

long X11Probe::Pid(XWindowId window) {
    auto items = P->Longs(window, P->A("_NET_WM_PID"), XA_CARDINAL);
    return items.empty() ? 0 : static_cast<long>(items[0]);
}

std::vector<std::string> X11Probe::NetWmState(XWindowId window) {
    std::vector<std::string> names;
    for (unsigned long atom : P->Longs(window, P->A("_NET_WM_STATE"), XA_ATOM)) {
        char* name = XGetAtomName(P->D, atom);
        if (name != nullptr) {
            names.emplace_back(name);
            XFree(name);
        }
    }
    return names;
}

bool X11Probe::HasNetWmState(XWindowId window, const std::string& state) {
    for (const std::string& name : NetWmState(window))
        if (name == state)
            return true;
    return false;
}

XWindowId X11Probe::ActiveWindow() {
    auto items = P->Longs(Root(), P->A("_NET_ACTIVE_WINDOW"), XA_WINDOW);
    return items.empty() ? 0 : items[0];
}

XWindowId X11Probe::CreateWindow(int x, int y, int width, int height, const std::string& title) {
    Window w = XCreateSimpleWindow(P->D, Root(), x, y, static_cast<unsigned>(width),
                                   static_cast<unsigned>(height), 0, BlackPixel(P->D, P->Screen),
                                   WhitePixel(P->D, P->Screen));
    XStoreName(P->D, w, title.c_str());
    XSizeHints hints{};
    hints.flags = USPosition | USSize;
    hints.x = x;
    hints.y = y;
    hints.width = width;
    hints.height = height;
    XSetWMNormalHints(P->D, w, &hints);
    XMapWindow(P->D, w);
    XSync(P->D, False);
    P->Own.push_back(w);
    return w;
}

void X11Probe::Activate(XWindowId window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = P->A("_NET_ACTIVE_WINDOW");
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2; // from a pager: the user's own choice
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(P->D, Root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(P->D, False);
}

std::optional<ScreenImage> X11Probe::Grab(int x, int y, int width, int height) {
    XImage* image = XGetImage(P->D, Root(), x, y, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr)
        return std::nullopt;
    ScreenImage result{x, y, width, height, {}};
    result.Pixels.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    // Each channel is spread by the visual's masks, so depths other than 24 read right too.
    struct Channel {
        unsigned long Mask;
        int Shift = 0;
        unsigned long Max = 1;
        explicit Channel(unsigned long mask) : Mask(mask) {
            if (mask == 0)
                return;
            while (((mask >> Shift) & 1) == 0)
                ++Shift;
            Max = mask >> Shift;
        }
        std::uint32_t Of(unsigned long pixel) const {
            return static_cast<std::uint32_t>(((pixel & Mask) >> Shift) * 255 / Max);
        }
    };
    const Channel red(image->red_mask), green(image->green_mask), blue(image->blue_mask);
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col) {
            unsigned long pixel = XGetPixel(image, col, row);
            result.Pixels.push_back((red.Of(pixel) << 16) | (green.Of(pixel) << 8) |
                                    blue.Of(pixel));
        }
    XDestroyImage(image);
    return result;
}

void X11Probe::Sync() {
    XSync(P->D, False);
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool SameColor(std::uint32_t a, std::uint32_t b, int tolerance) {
    for (int shift = 0; shift <= 16; shift += 8) {
        int ca = static_cast<int>((a >> shift) & 0xFF), cb = static_cast<int>((b >> shift) & 0xFF);
        if (ca - cb > tolerance || cb - ca > tolerance)
            return false;
    }
    return true;
}

std::string ColorText(std::uint32_t rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "#%06X", static_cast<unsigned>(rgb & 0xFFFFFF));
    return text;
}

} // namespace pellora::test
