#include "ui/x11/x_input.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <utility>

#include "ui/virtual_key.h"

namespace tw {

namespace {

bool is_keypad_keysym(KeySym sym) {
    return sym >= XK_KP_Space && sym <= XK_KP_Equal;
}

// Control characters (Return, Tab, Escape, Backspace, Ctrl+letter) are keys, not text.
bool is_printable_text(std::string_view bytes) {
    return std::none_of(bytes.begin(), bytes.end(), [](char byte) {
        const auto value = static_cast<unsigned char>(byte);
        return value < 0x20 || value == 0x7f;
    });
}

}  // namespace

void XInput::attach(Display* display_to_use, Window window, long base_events) {
    display = display_to_use;
    paste.attach(display, window);
    // A held key then repeats as key-downs alone, as the key handling expects, instead
    // of as release-and-press pairs.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(display, True, &supported);
    detectable_repeat = supported == True;

    input_method = XOpenIM(display, nullptr, nullptr, nullptr);
    if (input_method == nullptr) {
        // XMODIFIERS may name an input method server that is not running.
        XSetLocaleModifiers("@im=none");
        input_method = XOpenIM(display, nullptr, nullptr, nullptr);
    }
    if (input_method == nullptr) {
        return;
    }
    input_context = XCreateIC(input_method, XNInputStyle, XIMPreeditNothing | XIMStatusNothing,
                              XNClientWindow, window, XNFocusWindow, window, nullptr);
    if (input_context == nullptr) {
        return;
    }
    // The method may need events of its own from the window.
    unsigned long method_events = 0;
    XGetICValues(input_context, XNFilterEvents, &method_events, nullptr);
    XSelectInput(display, window, base_events | static_cast<long>(method_events));
    XSetICFocus(input_context);
}
std::optional<WindowEvent> XInput::key(const XKeyEvent& event, bool down,
                                       std::deque<WindowEvent>& queued) {
    if (!down && is_repeat_release(event)) {
        return std::nullopt;
    }
    XKeyEvent key = event;
    // Index 0 names the key rather than the character, as a virtual-key code does.
    KeySym sym = XLookupKeysym(&key, 0);
    const bool keypad = is_keypad_keysym(sym);
    if (down && (key.state & (ControlMask | Mod4Mask)) != 0) {
        // Ctrl and Super keys are commands, never text: Ctrl+V pastes, other Ctrl keys go
        // to the line's editor as keys.
        const bool ctrl = (key.state & ControlMask) != 0;
        if (ctrl && (sym == XK_v || sym == XK_V)) {
            paste.request(paste.clipboard(), key.time);
            return std::nullopt;
        }
        const auto code = virtual_key_from_keysym(static_cast<std::uint32_t>(sym));
        if (!ctrl || (key.state & Mod4Mask) != 0 || !code) {
            return std::nullopt;
        }
        return KeyEvent{*code, down, (key.state & ShiftMask) != 0, false, false, true};
    }
    if (down && (key.state & ShiftMask) != 0 && sym == XK_Insert) {
        paste.request(paste.clipboard(), key.time);
        return std::nullopt;
    }
    // What the key typed on the user's layout, AltGr and dead keys included, goes to the
    // line as text; the key itself still goes to the menu, whose mnemonics are keys. Keys
    // held with Alt belong to the menu, and the keypad types nothing.
    if (down && !keypad && (key.state & Mod1Mask) == 0) {
        if (auto text = typed_text(key)) {
            queued.emplace_back(TextEvent{std::move(text->text), text->left_out});
            const auto code = virtual_key_from_keysym(static_cast<std::uint32_t>(sym));
            if (!code) {
                return std::nullopt;
            }
            return KeyEvent{*code, down, (key.state & ShiftMask) != 0, false, true};
        }
    }
    // Which code a keypad key gives depends on Num Lock, which XLookupString applies.
    if (keypad) {
        std::array<char, 8> characters{};
        KeySym looked_up = NoSymbol;
        XLookupString(&key, characters.data(), static_cast<int>(characters.size()), &looked_up,
                      nullptr);
        if (looked_up != NoSymbol) {
            sym = looked_up;
        }
    }
    const auto code = virtual_key_from_keysym(static_cast<std::uint32_t>(sym));
    if (!code) {
        return std::nullopt;
    }
    return KeyEvent{*code, down, (key.state & ShiftMask) != 0, (key.state & Mod1Mask) != 0};
}
std::optional<Latin1Text> XInput::typed_text(XKeyEvent& key) {
    std::array<char, 64> buffer{};
    KeySym sym = NoSymbol;
    const int size = static_cast<int>(buffer.size());
    if (input_context == nullptr) {
        // Xlib's own table gives Latin-1 bytes.
        const int length = XLookupString(&key, buffer.data(), size, &sym, nullptr);
        const std::string_view bytes{buffer.data(), static_cast<std::size_t>(std::max(0, length))};
        if (bytes.empty() || !is_printable_text(bytes)) {
            return std::nullopt;
        }
        return Latin1Text{std::string{bytes}, 0};
    }
    Status status = 0;
    const int length = Xutf8LookupString(input_context, &key, buffer.data(), size, &sym, &status);
    if ((status != XLookupChars && status != XLookupBoth) || length <= 0) {
        return std::nullopt;
    }
    const std::string_view bytes{buffer.data(), static_cast<std::size_t>(length)};
    if (!is_printable_text(bytes)) {
        return std::nullopt;
    }
    // A character Latin-1 cannot say types nothing, rather than the key's US character.
    return latin1_text_from_utf8(bytes);
}
bool XInput::is_repeat_release(const XKeyEvent& key) {
    // Servers without detectable auto-repeat send a release and a press with the same
    // time stamp for every repeat; the release is dropped so that only key-downs repeat.
    if (detectable_repeat || XEventsQueued(display, QueuedAfterReading) == 0) {
        return false;
    }
    XEvent next{};
    XPeekEvent(display, &next);
    return next.type == KeyPress && next.xkey.keycode == key.keycode && next.xkey.time == key.time;
}

bool XInput::filter(XEvent& event) {
    if (event.type == KeyPress || event.type == KeyRelease) {
        // Caps Lock is not consulted: only Shift decides the case, on every layout and
        // in the input method's compositions too.
        event.xkey.state &= ~static_cast<unsigned>(LockMask);
    }
    return XFilterEvent(&event, None) == True;
}

void XInput::paste_primary(Time time) {
    paste.request(XA_PRIMARY, time);
}

void XInput::focus_changed(bool has_focus) {
    if (input_context == nullptr) {
        return;
    }
    if (has_focus) {
        XSetICFocus(input_context);
    } else {
        XUnsetICFocus(input_context);
    }
}

void XInput::release() {
    if (input_context != nullptr) {
        XDestroyIC(input_context);
        input_context = nullptr;
    }
    if (input_method != nullptr) {
        XCloseIM(input_method);
        input_method = nullptr;
    }
    display = nullptr;
}

}  // namespace tw
