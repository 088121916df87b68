#include "ui/x11/x_paste.h"

#include <X11/Xatom.h>

#include <algorithm>
#include <memory>
#include <string_view>

#include "ui/latin1_text.h"
#include "ui/pasted_lines.h"

namespace tw {

namespace {

// The longest property read at once, in 32-bit units: far beyond any owner's piece, so a
// piece is always read whole and can be deleted, which asks the owner for the next.
constexpr long READ_UNITS = 16L * 1024 * 1024;

struct XFreeDeleter {
    void operator()(unsigned char* data) const { XFree(data); }
};

// A cut may split a UTF-8 sequence; its remains would read as a character left out.
void trim_split_sequence(std::string& utf8) {
    while (!utf8.empty() && (static_cast<unsigned char>(utf8.back()) & 0xc0U) == 0x80U) {
        utf8.pop_back();
    }
    if (!utf8.empty() && static_cast<unsigned char>(utf8.back()) >= 0xc0U) {
        utf8.pop_back();
    }
}

}  // namespace

void XPaste::attach(Display* display_to_use, Window answer_window) {
    display = display_to_use;
    window = answer_window;
    clipboard_atom = XInternAtom(display, "CLIPBOARD", False);
    utf8_string = XInternAtom(display, "UTF8_STRING", False);
    incr = XInternAtom(display, "INCR", False);
    property = XInternAtom(display, "TAMBLEWICK_PASTE", False);
}

void XPaste::request(Atom selection, Time time) {
    // A new paste ends a transfer that stalled: its owner is not waited for any more.
    receiving = false;
    XConvertSelection(display, selection, utf8_string, property, window, time);
}

bool XPaste::take_property(Atom& type, std::string& piece) {
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* raw = nullptr;
    const int read = XGetWindowProperty(display, window, property, 0, READ_UNITS, False,
                                        AnyPropertyType, &type, &format, &items, &after, &raw);
    const std::unique_ptr<unsigned char, XFreeDeleter> data{raw};
    XDeleteProperty(display, window, property);
    if (read != Success || type == None) {
        return false;
    }
    // Text is 8-bit; INCR's size and anything else only count as read.
    piece.assign(format == 8 && data ? reinterpret_cast<const char*>(data.get()) : "",
                 format == 8 && data ? items : 0);
    return true;
}

void XPaste::on_selection_notify(const XSelectionEvent& answer, std::deque<WindowEvent>& out) {
    if (answer.property == None) {
        // An owner that offers no UTF-8 may still offer Latin-1.
        if (answer.target == utf8_string) {
            XConvertSelection(display, answer.selection, XA_STRING, property, window, answer.time);
        } else {
            out.emplace_back(NoticeEvent{"Nothing to paste"});
        }
        return;
    }
    Atom type = None;
    std::string piece;
    if (!take_property(type, piece)) {
        out.emplace_back(NoticeEvent{"Could not read the paste"});
        return;
    }
    kept.clear();
    total = 0;
    if (type == incr) {
        // Deleting the property above asked the owner for the first piece.
        receiving = true;
        return;
    }
    keep(piece);
    finish(type, out);
}

void XPaste::on_property_notify(const XPropertyEvent& change, std::deque<WindowEvent>& out) {
    if (!receiving || change.atom != property || change.state != PropertyNewValue) {
        return;
    }
    Atom type = None;
    std::string piece;
    if (!take_property(type, piece)) {
        return;
    }
    piece_type = type;
    if (!piece.empty()) {
        keep(piece);
        return;
    }
    // The empty piece ends the transfer.
    receiving = false;
    finish(piece_type, out);
}

void XPaste::keep(std::string_view piece) {
    total += piece.size();
    if (kept.size() < MAX_PASTE_BYTES) {
        kept.append(piece.substr(0, MAX_PASTE_BYTES - kept.size()));
    }
}

void XPaste::finish(Atom type, std::deque<WindowEvent>& out) {
    const bool cut = total > kept.size();
    if (cut && type == utf8_string) {
        trim_split_sequence(kept);
    }
    Latin1Text text = type == utf8_string ? latin1_text_from_utf8(kept)
                                          : Latin1Text{latin1_with_line_feeds(kept), 0};
    const std::size_t kept_bytes = kept.size();
    kept.clear();
    if (!text.text.empty() || text.left_out > 0) {
        out.emplace_back(TextEvent{std::move(text.text), text.left_out});
    }
    // After the paste, so that whatever the paste itself adds to the log cannot push it
    // out of sight.
    if (cut) {
        out.emplace_back(NoticeEvent{"Pasted " + grouped_number(kept_bytes) + " of " +
                                     grouped_number(total) + " bytes"});
    }
}

}  // namespace tw
