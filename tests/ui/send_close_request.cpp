// Asks a window to close the way a window manager's close box does: by sending it the
// WM_DELETE_WINDOW client message. The end-to-end tests run without a window manager.
//
// With --destroy it destroys the window instead, as a hostile or broken client may; with
// --through-wm it asks the window manager to close it (_NET_CLOSE_WINDOW), as a task bar does.
//
// Usage: send_close_request [--destroy|--through-wm] WINDOW_ID   (decimal or 0x hex)

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

int main(int argc, char** argv) {
    std::span arguments(argv, static_cast<std::size_t>(argc));
    const std::string_view option = arguments.size() == 3 ? arguments[1] : "";
    const bool destroy = option == "--destroy";
    const bool through_wm = option == "--through-wm";
    if (destroy || through_wm) {
        arguments = arguments.subspan(1);
    }
    if (arguments.size() != 2) {
        std::fputs("usage: send_close_request [--destroy|--through-wm] WINDOW_ID\n", stderr);
        return 2;
    }
    char* end = nullptr;
    const unsigned long window = std::strtoul(arguments[1], &end, 0);
    if (end == arguments[1] || *end != '\0' || window == 0) {
        std::fprintf(stderr, "send_close_request: not a window id: %s\n", arguments[1]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fputs("send_close_request: cannot open display\n", stderr);
        return 1;
    }
    if (destroy) {
        XDestroyWindow(display, window);
        XSync(display, False);
        XCloseDisplay(display);
        return 0;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    if (through_wm) {
        event.xclient.message_type = XInternAtom(display, "_NET_CLOSE_WINDOW", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = CurrentTime;
        event.xclient.data.l[1] = 2;  // the request comes from a pager or task bar
        const Status sent = XSendEvent(display, DefaultRootWindow(display), False,
                                       SubstructureRedirectMask | SubstructureNotifyMask, &event);
        XSync(display, False);
        XCloseDisplay(display);
        return sent != 0 ? 0 : 1;
    }
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return sent != 0 ? 0 : 1;
}
