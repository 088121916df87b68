#pragma once

#include <X11/Xlib.h>

#include <string>

namespace tw {

// What the window manager and the desktop see of the window: its title, class, icon,
// size, process, the close request it may send, and the urgency hint that asks for the
// user's attention while the window is not focused.
class XWmView {
  public:
    // Sets every property of the new, not yet mapped window.
    void describe(Display* display, Window window, const std::string& title, int width, int height);
    // The title, in UTF-8.
    void set_title(const std::string& utf8);
    bool is_close_request(const XClientMessageEvent& message) const;

    void focus_changed(bool has_focus);
    // Sets the urgency hint unless the window has the focus; the focus clears it.
    void ask_attention();

  private:
    void set_hints(bool urgent);

    Display* display = nullptr;
    Window window = 0;
    Atom wm_protocols = 0;
    Atom wm_delete_window = 0;
    bool focused = false;
    bool urgent = false;
};

}  // namespace tw
