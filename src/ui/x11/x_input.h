#pragma once

#include <X11/Xlib.h>

#include <deque>
#include <optional>
#include <string>

#include "ui/latin1_text.h"
#include "ui/window_system.h"
#include "ui/x11/x_paste.h"

namespace tw {

// What the user types and pastes into the window: keys read through the input method (or
// Xlib's own table without one), the characters they make as text, the keys themselves
// for the menu and for editing, and pastes from the selections.
class XInput {
  public:
    XInput() = default;
    ~XInput() { release(); }
    XInput(const XInput&) = delete;
    XInput& operator=(const XInput&) = delete;

    // Opens the input method for the window and selects what it needs on top of
    // `base_events`.
    void attach(Display* display, Window window, long base_events);
    void release();

    // Dead keys and compose sequences are the input method's until they make a character:
    // true when the event was one of those steps.
    bool filter(XEvent& event);
    // A key press or release; what it typed goes to `out` after the key.
    std::optional<WindowEvent> key(const XKeyEvent& event, bool down, std::deque<WindowEvent>& out);
    void paste_primary(Time time);
    void on_selection_notify(const XSelectionEvent& answer, std::deque<WindowEvent>& out) {
        paste.on_selection_notify(answer, out);
    }
    void on_property_notify(const XPropertyEvent& change, std::deque<WindowEvent>& out) {
        paste.on_property_notify(change, out);
    }
    void focus_changed(bool has_focus);

  private:
    std::optional<Latin1Text> typed_text(XKeyEvent& key);
    bool is_repeat_release(const XKeyEvent& key);

    Display* display = nullptr;
    // The input method gives the characters of the user's layout, dead keys and compose
    // sequences included; without one, keys are read as Xlib's own table gives them.
    XIM input_method = nullptr;
    XIC input_context = nullptr;
    bool detectable_repeat = false;
    XPaste paste;
};

}  // namespace tw
