#include "e2e/PopupProbe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace pellora::test {

namespace {

long WindowPid(Display* display, Window window) {
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", True);
    if (pidAtom == 0)
        return 0;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    long pid = 0;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) == Success &&
        data != nullptr && format == 32 && count == 1)
        pid = *reinterpret_cast<long*>(data);
    if (data != nullptr)
        XFree(data);
    return pid;
}

} // namespace

bool PopupShown(long pid, int minHeight) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    bool shown = false;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) != 0) {
        for (unsigned int i = 0; i < count && !shown; ++i) {
            XWindowAttributes attributes{};
            shown = XGetWindowAttributes(display, children[i], &attributes) != 0 &&
                    attributes.override_redirect != 0 && attributes.map_state == IsViewable &&
                    attributes.height > minHeight && WindowPid(display, children[i]) == pid;
        }
        if (children != nullptr)
            XFree(children);
    }
    XCloseDisplay(display);
    return shown;
}

} // namespace pellora::test
