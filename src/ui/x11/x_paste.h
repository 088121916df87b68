#pragma once

#include <X11/Xlib.h>

#include <cstddef>
#include <deque>
#include <string>

#include "ui/window_system.h"

namespace tw {

// A paste from an X selection: asked for as UTF-8 (Latin-1 when the owner has no UTF-8),
// taken whole or in the pieces of an INCR transfer, and kept up to MAX_PASTE_BYTES. What
// it gives the frame loop is the text, and a notice when it was cut or could not be read.
class XPaste {
  public:
    // The window whose property the owner answers in; it must select PropertyChangeMask.
    void attach(Display* display, Window window);
    Atom clipboard() const { return clipboard_atom; }
    void request(Atom selection, Time time);

    void on_selection_notify(const XSelectionEvent& answer, std::deque<WindowEvent>& out);
    void on_property_notify(const XPropertyEvent& change, std::deque<WindowEvent>& out);

  private:
    // Reads and deletes the answer property; false when there was none to read.
    bool take_property(Atom& type, std::string& piece);
    void keep(std::string_view piece);
    void finish(Atom type, std::deque<WindowEvent>& out);

    Display* display = nullptr;
    Window window = 0;
    Atom clipboard_atom = 0;
    Atom utf8_string = 0;
    Atom incr = 0;
    Atom property = 0;
    // An INCR transfer is under way: its pieces arrive as new values of the property.
    bool receiving = false;
    Atom piece_type = 0;
    std::string kept;
    std::size_t total = 0;
};

}  // namespace tw
