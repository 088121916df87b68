#include "ui/x11/x_wm_view.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <array>
#include <climits>
#include <string>
#include <vector>

#if defined(TW_WINDOW_ICON)
#include "window_icon.h"
#endif

namespace tw {

void XWmView::describe(Display* display_to_use, Window described, const std::string& title,
                       int width, int height) {
    display = display_to_use;
    window = described;
    set_title(title);

    std::string res_name{"tamblewick"};
    // The class the desktop entry's StartupWMClass names, so task bars find its icon.
    std::string res_class{"Tamblewick"};
    XClassHint class_hint{};
    class_hint.res_name = res_name.data();
    class_hint.res_class = res_class.data();
    XSetClassHint(display, window, &class_hint);

    XSizeHints size_hints{};
    size_hints.flags = PSize | PMinSize;
    size_hints.width = width;
    size_hints.height = height;
    size_hints.min_width = 1;
    size_hints.min_height = 1;
    XSetWMNormalHints(display, window, &size_hints);

    set_hints(false);

    wm_protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    wm_delete_window = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &wm_delete_window, 1);

#if defined(TW_WINDOW_ICON)
    // Format 32 properties are handed to Xlib as longs, whatever their width.
    const std::vector<long> icon(WINDOW_ICON.begin(), WINDOW_ICON.end());
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_ICON", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(icon.data()),
                    static_cast<int>(icon.size()));
#endif

    // The process id and host let window managers and tools tell instances apart.
    const Atom net_wm_pid = XInternAtom(display, "_NET_WM_PID", False);
    const long pid = static_cast<long>(getpid());
    XChangeProperty(display, window, net_wm_pid, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    std::array<char, HOST_NAME_MAX + 1> host{};
    if (gethostname(host.data(), host.size() - 1) == 0) {
        char* host_list = host.data();
        XTextProperty host_property{};
        if (XStringListToTextProperty(&host_list, 1, &host_property) != 0) {
            XSetWMClientMachine(display, window, &host_property);
            XFree(host_property.value);
        }
    }
}

void XWmView::set_title(const std::string& utf8) {
    // _NET_WM_NAME for today's desktops, WM_NAME for the rest: as Latin-1 where that can
    // say it, as compound text where it cannot (the title's dashes).
    const Atom utf8_string = XInternAtom(display, "UTF8_STRING", False);
    const Atom net_wm_name = XInternAtom(display, "_NET_WM_NAME", False);
    XChangeProperty(display, window, net_wm_name, utf8_string, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(utf8.data()),
                    static_cast<int>(utf8.size()));
    std::string text = utf8;
    char* list = text.data();
    XTextProperty name{};
    if (Xutf8TextListToTextProperty(display, &list, 1, XStdICCTextStyle, &name) >= Success) {
        XSetWMName(display, window, &name);
        XFree(name.value);
    }
    XFlush(display);
}

bool XWmView::is_close_request(const XClientMessageEvent& message) const {
    return message.message_type == wm_protocols && message.format == 32 &&
           static_cast<Atom>(message.data.l[0]) == wm_delete_window;
}

void XWmView::set_hints(bool urgency) {
    XWMHints wm_hints{};
    wm_hints.flags = InputHint | StateHint | (urgency ? XUrgencyHint : 0);
    wm_hints.input = True;
    wm_hints.initial_state = NormalState;
    XSetWMHints(display, window, &wm_hints);
    urgent = urgency;
}

void XWmView::focus_changed(bool has_focus) {
    focused = has_focus;
    if (focused && urgent) {
        set_hints(false);
    }
}

void XWmView::ask_attention() {
    if (display != nullptr && !focused && !urgent) {
        set_hints(true);
        XFlush(display);
    }
}

}  // namespace tw
