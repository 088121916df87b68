#include "ui/x11/x_window_system.h"

#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <clocale>
#include <cstdio>
#include <utility>

#include "ui/console_view.h"

namespace tw {

namespace {

// Property changes bring the pieces of a paste that its owner sends in several (INCR).
constexpr long BASE_EVENT_MASK = KeyPressMask | KeyReleaseMask | ButtonPressMask |
                                 StructureNotifyMask | ExposureMask | FocusChangeMask |
                                 PropertyChangeMask;

}  // namespace

XWindowSystem* XWindowSystem::handled = nullptr;

XWindowSystem::~XWindowSystem() {
    release();
    if (handled == this) {
        handled = nullptr;
    }
}

// Xlib's default handler ends the process on any error; errors are asynchronous, so a
// window destroyed by another client shows up here for whatever request was still on its
// way (a copy to the window), often before its DestroyNotify. Xlib must not be called
// from here: the error is only noted.
int XWindowSystem::on_error(Display*, XErrorEvent* error) {
    const bool about_window = error->error_code == BadWindow || error->error_code == BadDrawable;
    if (handled != nullptr && about_window && handled->lifecycle == Lifecycle::shown &&
        error->resourceid == handled->window) {
        handled->lifecycle = Lifecycle::lost;
    }
    return 0;
}

// The connection is gone and Xlib cannot go on: if this returned, Xlib would end the
// process without the goodbye. The session layer is not in the middle of anything (Xlib
// runs only between frame steps), so the logout goes out from here.
int XWindowSystem::on_io_error(Display*) {
    std::string name = "?";
    if (handled != nullptr) {
        name = handled->display_name;
        if (handled->display_lost) {
            handled->display_lost();
        }
    }
    std::fprintf(stderr, "tamblewick: lost the connection to the X display \"%s\"\n", name.c_str());
    std::fflush(stderr);
    _exit(1);
}

bool XWindowSystem::fail(std::string reason) {
    failure_text = std::move(reason);
    release();
    return false;
}

bool XWindowSystem::open(const char* title, int width, int height) {
    // The input method composes characters in the user's locale; one that X cannot
    // handle falls back to the C locale, whose Latin-1 is all the program types anyway.
    if (std::setlocale(LC_CTYPE, "") == nullptr || XSupportsLocale() == False) {
        std::setlocale(LC_CTYPE, "C");
    }
    XSetLocaleModifiers("");
    display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return fail(std::string{"cannot open display \""} + XDisplayName(nullptr) + "\"");
    }
    display_name = DisplayString(display);
    handled = this;
    XSetErrorHandler(&XWindowSystem::on_error);
    XSetIOErrorHandler(&XWindowSystem::on_io_error);
    const int screen = DefaultScreen(display);
    if (!drawing.open(display, screen)) {
        return fail("cannot load a sans-serif font");
    }
    first_height = height;
    client_w = drawing.to_screen(width);
    client_h = drawing.to_screen(height);

    XSetWindowAttributes attributes{};
    // No background: every frame paints every pixel, and a background would flash.
    attributes.background_pixmap = None;
    attributes.bit_gravity = NorthWestGravity;
    attributes.event_mask = BASE_EVENT_MASK;
    window = XCreateWindow(
        display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(client_w),
        static_cast<unsigned>(client_h), 0, DefaultDepth(display, screen), InputOutput,
        DefaultVisual(display, screen), CWBackPixmap | CWBitGravity | CWEventMask, &attributes);
    if (window == 0) {
        return fail("cannot create the window");
    }
    lifecycle = Lifecycle::shown;
    wm_view.describe(display, window, title, client_w, client_h);
    input.attach(display, window, BASE_EVENT_MASK);
    if (!drawing.attach(window, client_w, client_h)) {
        return fail("cannot create the off-screen picture");
    }
    XMapWindow(display, window);
    XFlush(display);
    return true;
}

std::size_t XWindowSystem::log_rows() const {
    const int extra = drawing.to_layout(client_h) - first_height;
    return ChatLog::CAPACITY + static_cast<std::size_t>(std::max(0, extra / LINE_PITCH));
}

TextSurface& XWindowSystem::begin_frame() {
    drawing.begin(client_w, client_h);
    return drawing;
}

bool XWindowSystem::needs_redraw() {
    return std::exchange(redraw_requested, false);
}

void XWindowSystem::ask_attention() {
    if (lifecycle == Lifecycle::shown) {
        wm_view.ask_attention();
    }
}

void XWindowSystem::set_title(const std::string& utf8) {
    if (lifecycle == Lifecycle::shown) {
        wm_view.set_title(utf8);
    }
}

void XWindowSystem::end_frame() {
    if (lifecycle == Lifecycle::shown) {
        drawing.copy_to(window);
    }
}

std::optional<WindowEvent> XWindowSystem::next_event() {
    if (lifecycle == Lifecycle::lost) {
        // Gone already: release() must not destroy it a second time.
        lifecycle = Lifecycle::gone;
        return CloseEvent{};
    }
    while (queued.empty() && display != nullptr && XPending(display) > 0) {
        XEvent event{};
        XNextEvent(display, &event);
        if (input.filter(event)) {
            continue;
        }
        if (auto translated = translate(event)) {
            return translated;
        }
    }
    if (queued.empty()) {
        return std::nullopt;
    }
    WindowEvent event = std::move(queued.front());
    queued.pop_front();
    return event;
}

std::optional<WindowEvent> XWindowSystem::translate(const XEvent& event) {
    switch (event.type) {
        case KeyPress:
        case KeyRelease:
            return input.key(event.xkey, event.type == KeyPress, queued);
        case ButtonPress:
            if (event.xbutton.button == Button1) {
                return ClickEvent{drawing.to_layout(event.xbutton.x),
                                  drawing.to_layout(event.xbutton.y)};
            }
            if (event.xbutton.button == Button2) {
                input.paste_primary(event.xbutton.time);
            }
            if (event.xbutton.button == Button4 || event.xbutton.button == Button5) {
                return WheelEvent{event.xbutton.button == Button4 ? 1 : -1};
            }
            return std::nullopt;
        case SelectionNotify:
            input.on_selection_notify(event.xselection, queued);
            return std::nullopt;
        case PropertyNotify:
            input.on_property_notify(event.xproperty, queued);
            return std::nullopt;
        case FocusIn:
        case FocusOut: {
            // The pointer's focus is not the user's: keys go to the window under it only.
            const bool focused = event.type == FocusIn && event.xfocus.detail != NotifyPointer;
            input.focus_changed(event.type == FocusIn);
            wm_view.focus_changed(focused);
            return std::nullopt;
        }
        case ConfigureNotify: {
            // Only the size is kept; the picture follows it at the next frame.
            const int width = std::max(1, event.xconfigure.width);
            const int height = std::max(1, event.xconfigure.height);
            redraw_requested = redraw_requested || width != client_w || height != client_h;
            client_w = width;
            client_h = height;
            return std::nullopt;
        }
        case Expose:
            redraw_requested = true;
            return std::nullopt;
        case ClientMessage:
            if (wm_view.is_close_request(event.xclient)) {
                return CloseEvent{};
            }
            return std::nullopt;
        case DestroyNotify:
            if (event.xdestroywindow.window == window) {
                lifecycle = Lifecycle::gone;
                return CloseEvent{};
            }
            return std::nullopt;
        case MappingNotify: {
            XMappingEvent mapping = event.xmapping;
            XRefreshKeyboardMapping(&mapping);
            return std::nullopt;
        }
        default:
            return std::nullopt;
    }
}

void XWindowSystem::wait(std::intptr_t socket, int timeout_ms) {
    if (display == nullptr) {
        return;
    }
    // Xlib may already hold events read from the connection that poll cannot see;
    // XPending also flushes what is still buffered for the server.
    if (XPending(display) > 0) {
        return;
    }
    std::array<pollfd, 2> watched{};
    watched[0].fd = ConnectionNumber(display);
    watched[0].events = POLLIN;
    // Descriptors are small numbers; the wider handle type only serves other platforms.
    watched[1].fd = static_cast<int>(socket);
    watched[1].events = POLLIN;
    const nfds_t count = socket >= 0 ? 2 : 1;
    // An interrupted or failed poll simply ends the wait early: the next frame looks.
    poll(watched.data(), count, timeout_ms);
}

void XWindowSystem::release() {
    if (display == nullptr) {
        return;
    }
    drawing.release();
    input.release();
    queued.clear();
    if (lifecycle == Lifecycle::shown || lifecycle == Lifecycle::lost) {
        // A window found lost has not been told to the frame loop; it may still exist.
        XDestroyWindow(display, window);
    }
    lifecycle = Lifecycle::none;
    window = 0;
    XCloseDisplay(display);
    display = nullptr;
}

}  // namespace tw
