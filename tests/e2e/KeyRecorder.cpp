// The program that has the focus while reminders come: a plain X window named "key
// recorder" that writes every character typed into it to standard output as it comes, and
// "[focus-out]" each time it loses the keyboard focus. Ends on SIGTERM.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstdio>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "key recorder: no display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 100, 100, 360, 240, 0,
                                        BlackPixel(display, screen), WhitePixel(display, screen));
    XStoreName(display, window, "key recorder");
    XClassHint hint{const_cast<char*>("keyrecorder"), const_cast<char*>("KeyRecorder")};
    XSetClassHint(display, window, &hint);
    XSelectInput(display, window, KeyPressMask | FocusChangeMask);
    XMapWindow(display, window);
    XFlush(display);
    bool focused = false;
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == KeyPress) {
            char text[8];
            KeySym key = 0;
            const int length = XLookupString(&event.xkey, text, sizeof text, &key, nullptr);
            if (length > 0) {
                std::fwrite(text, 1, static_cast<std::size_t>(length), stdout);
                std::fflush(stdout);
            }
        } else if (event.type == FocusIn && event.xfocus.detail != NotifyPointer) {
            focused = true;
        } else if (event.type == FocusOut && focused && event.xfocus.mode == NotifyNormal &&
                   event.xfocus.detail != NotifyInferior && event.xfocus.detail != NotifyPointer) {
            focused = false;
            std::fputs("[focus-out]", stdout);
            std::fflush(stdout);
        }
    }
}
