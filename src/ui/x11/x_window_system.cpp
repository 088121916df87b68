#include "ui/x11/x_window_system.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xresource.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "ui/key_input.h"
#include "ui/latin1_text.h"
#include "ui/virtual_key.h"

#if defined(TW_WINDOW_ICON)
#include "window_icon.h"
#endif

namespace tw {

namespace {

// fontconfig's default sans-serif face; DejaVu is named as well for machines whose
// fontconfig has no alias for the generic family. 12 pixels fits the 15-pixel line pitch.
constexpr const char* FONT_FAMILY = "sans-serif";
constexpr const char* FALLBACK_FONT_FAMILY = "DejaVu Sans";
constexpr int FONT_PIXELS = 12;

// The desktop's scale: Xft.dpi over the 96 dpi the layout is drawn for, in quarter steps
// (the steps desktops offer: 125 %, 150 %, 200 %), counted in quarters.
constexpr double BASE_DPI = 96.0;
constexpr int MAX_SCALE_QUARTERS = 8 * QUARTER;

// The font's pixel size is exact at every quarter: 12 is a multiple of four.
std::string font_pattern(const char* family, int quarters) {
    return std::string{family} + ":pixelsize=" + std::to_string(FONT_PIXELS * quarters / QUARTER) +
           ":antialias=true";
}

int desktop_scale_quarters(Display* display) {
    const char* resources = XResourceManagerString(display);
    if (resources == nullptr) {
        return QUARTER;
    }
    XrmInitialize();
    XrmDatabase database = XrmGetStringDatabase(resources);
    char* type = nullptr;
    XrmValue value{};
    double dpi = BASE_DPI;
    if (database != nullptr && XrmGetResource(database, "Xft.dpi", "Xft.Dpi", &type, &value) &&
        value.addr != nullptr) {
        dpi = std::strtod(value.addr, nullptr);
    }
    if (database != nullptr) {
        XrmDestroyDatabase(database);
    }
    if (!std::isfinite(dpi) || dpi < BASE_DPI) {
        return QUARTER;
    }
    return static_cast<int>(
        std::min<long>(MAX_SCALE_QUARTERS, std::lround(dpi / BASE_DPI * QUARTER)));
}

constexpr Rgb BLACK{0, 0, 0};

// X 16-bit colour channels from 8-bit ones: 0xab becomes 0xabab.
unsigned short channel16(std::uint8_t value) {
    return static_cast<unsigned short>(value * 257U);
}

bool is_keypad_keysym(KeySym sym) {
    return sym >= XK_KP_Space && sym <= XK_KP_Equal;
}

// Property changes bring the pieces of a paste that its owner sends in several (INCR).
constexpr long BASE_EVENT_MASK = KeyPressMask | KeyReleaseMask | ButtonPressMask |
                                 StructureNotifyMask | ExposureMask | FocusChangeMask |
                                 PropertyChangeMask;

// Control characters (Return, Tab, Escape, Backspace, Ctrl+letter) are keys, not text.
bool is_printable_text(std::string_view bytes) {
    return std::none_of(bytes.begin(), bytes.end(), [](char byte) {
        const auto value = static_cast<unsigned char>(byte);
        return value < 0x20 || value == 0x7f;
    });
}

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
    if (handled != nullptr && about_window && handled->window != 0 &&
        error->resourceid == handled->window) {
        handled->window_lost = true;
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
    screen = DefaultScreen(display);
    visual = DefaultVisual(display, screen);
    colormap = DefaultColormap(display, screen);
    depth = DefaultDepth(display, screen);

    quarters = desktop_scale_quarters(display);
    first_height = height;
    width = to_screen(width);
    height = to_screen(height);
    font = XftFontOpenName(display, screen, font_pattern(FONT_FAMILY, quarters).c_str());
    if (font == nullptr) {
        font =
            XftFontOpenName(display, screen, font_pattern(FALLBACK_FONT_FAMILY, quarters).c_str());
    }
    if (font == nullptr) {
        return fail("cannot load a sans-serif font");
    }
    advances.fill(-1);

    XSetWindowAttributes attributes{};
    // No background: every frame paints every pixel, and a background would flash.
    attributes.background_pixmap = None;
    attributes.bit_gravity = NorthWestGravity;
    attributes.event_mask = BASE_EVENT_MASK;
    window = XCreateWindow(display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(width),
                           static_cast<unsigned>(height), 0, depth, InputOutput, visual,
                           CWBackPixmap | CWBitGravity | CWEventMask, &attributes);
    if (window == 0) {
        return fail("cannot create the window");
    }
    window_alive = true;
    set_window_properties(title, width, height);
    open_input_method();

    XGCValues values{};
    // Without this every XCopyArea would send a NoExpose event back and wake the loop.
    values.graphics_exposures = False;
    gc = XCreateGC(display, window, GCGraphicsExposures, &values);

    // A held key then repeats as key-downs alone, as the key handling expects, instead
    // of as release-and-press pairs.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(display, True, &supported);
    detectable_repeat = supported == True;

    client_w = width;
    client_h = height;
    if (!make_picture()) {
        return fail("cannot create the off-screen picture");
    }
    XMapWindow(display, window);
    XFlush(display);
    return true;
}

void XWindowSystem::set_window_properties(const char* title, int width, int height) {
    XStoreName(display, window, title);
    utf8_string = XInternAtom(display, "UTF8_STRING", False);
    const Atom net_wm_name = XInternAtom(display, "_NET_WM_NAME", False);
    const std::string title_text{title};
    XChangeProperty(display, window, net_wm_name, utf8_string, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title_text.data()),
                    static_cast<int>(title_text.size()));

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

    set_wm_hints(false);

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

void XWindowSystem::set_wm_hints(bool urgency) {
    XWMHints wm_hints{};
    wm_hints.flags = InputHint | StateHint | (urgency ? XUrgencyHint : 0);
    wm_hints.input = True;
    wm_hints.initial_state = NormalState;
    XSetWMHints(display, window, &wm_hints);
    urgent = urgency;
}

void XWindowSystem::ask_attention() {
    if (display != nullptr && window_alive && !focused && !urgent) {
        set_wm_hints(true);
        XFlush(display);
    }
}

void XWindowSystem::open_input_method() {
    paste.attach(display, window);

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
    XSelectInput(display, window, BASE_EVENT_MASK | static_cast<long>(method_events));
    XSetICFocus(input_context);
}

bool XWindowSystem::make_picture() {
    const Pixmap fresh =
        XCreatePixmap(display, window, static_cast<unsigned>(client_w),
                      static_cast<unsigned>(client_h), static_cast<unsigned>(depth));
    if (fresh == 0) {
        return false;
    }
    if (draw == nullptr) {
        draw = XftDrawCreate(display, fresh, visual, colormap);
        if (draw == nullptr) {
            XFreePixmap(display, fresh);
            return false;
        }
    } else {
        XftDrawChange(draw, fresh);
    }
    if (picture != 0) {
        XFreePixmap(display, picture);
    }
    picture = fresh;
    picture_w = client_w;
    picture_h = client_h;
    return true;
}

std::size_t XWindowSystem::log_rows() const {
    const int extra = to_layout(client_h) - first_height;
    return ChatLog::CAPACITY + static_cast<std::size_t>(std::max(0, extra / LINE_PITCH));
}

TextSurface& XWindowSystem::begin_frame() {
    if (display != nullptr && (picture_w != client_w || picture_h != client_h)) {
        // On failure the old picture stays; the frame is then drawn at the old size.
        make_picture();
    }
    // Rounded up, so that the last screen pixels are covered too.
    const auto covering = [this](int pixels) {
        return (pixels * QUARTER + quarters - 1) / quarters;
    };
    fill_rect(0, 0, covering(picture_w), covering(picture_h), BLACK);
    return *this;
}

bool XWindowSystem::needs_redraw() {
    return std::exchange(redraw_requested, false);
}

void XWindowSystem::end_frame() {
    if (display == nullptr || picture == 0 || !window_alive || window_lost) {
        return;
    }
    XCopyArea(display, picture, window, gc, 0, 0, static_cast<unsigned>(picture_w),
              static_cast<unsigned>(picture_h), 0, 0);
    XFlush(display);
}

const XftColor* XWindowSystem::colour_of(Rgb rgb) {
    for (std::size_t i = 0; i < colour_count; ++i) {
        if (colours[i].rgb == rgb) {
            return &colours[i].colour;
        }
    }
    if (colour_count == colours.size()) {
        return nullptr;
    }
    XRenderColor wanted{};
    wanted.red = channel16(rgb.r);
    wanted.green = channel16(rgb.g);
    wanted.blue = channel16(rgb.b);
    wanted.alpha = 0xffff;
    CachedColour& slot = colours[colour_count];
    if (XftColorAllocValue(display, visual, colormap, &wanted, &slot.colour) == False) {
        return nullptr;
    }
    slot.rgb = rgb;
    ++colour_count;
    return &slot.colour;
}

void XWindowSystem::draw_text(int x, int y, Rgb colour, std::string_view text) {
    if (draw == nullptr || font == nullptr || text.empty()) {
        return;
    }
    const XftColor* xft_colour = colour_of(colour);
    if (xft_colour == nullptr) {
        return;
    }
    // Bytes are drawn as Latin-1, one glyph per byte: texts are single-byte characters.
    const int length = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
    XftDrawString8(draw, xft_colour, font, to_screen(x), to_screen(y) + font->ascent,
                   reinterpret_cast<const FcChar8*>(text.data()), length);
}

int XWindowSystem::advance(unsigned char byte) {
    int& known = advances[byte];
    if (known < 0) {
        if (font == nullptr) {
            return 0;
        }
        XGlyphInfo extents{};
        XftTextExtents8(display, font, &byte, 1, &extents);
        // In the layout's pixels: rounded down, so a row is never cut short.
        known = to_layout(std::max(0, static_cast<int>(extents.xOff)));
    }
    return known;
}

int XWindowSystem::text_width(std::string_view text) {
    if (font == nullptr || text.empty()) {
        return 0;
    }
    XGlyphInfo extents{};
    const int length = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
    XftTextExtents8(display, font, reinterpret_cast<const FcChar8*>(text.data()), length, &extents);
    const int pixels = std::max(0, static_cast<int>(extents.xOff));
    return (pixels * QUARTER + quarters - 1) / quarters;
}

void XWindowSystem::fill_rect(int x, int y, int width, int height, Rgb colour) {
    if (draw == nullptr || width <= 0 || height <= 0) {
        return;
    }
    const XftColor* xft_colour = colour_of(colour);
    if (xft_colour == nullptr) {
        return;
    }
    // From edge to edge, so that neighbouring boxes meet whatever the scale's rounding.
    const int left = to_screen(x);
    const int top = to_screen(y);
    XftDrawRect(draw, xft_colour, left, top, static_cast<unsigned>(to_screen(x + width) - left),
                static_cast<unsigned>(to_screen(y + height) - top));
}

std::optional<WindowEvent> XWindowSystem::next_event() {
    if (window_lost && window_alive) {
        // Gone already: release() must not destroy it a second time.
        window_alive = false;
        return CloseEvent{};
    }
    while (queued.empty() && display != nullptr && XPending(display) > 0) {
        XEvent event{};
        XNextEvent(display, &event);
        if (event.type == KeyPress || event.type == KeyRelease) {
            // Caps Lock is not consulted: only Shift decides the case, on every layout and
            // in the input method's compositions too.
            event.xkey.state &= ~static_cast<unsigned>(LockMask);
        }
        // Dead keys and compose sequences are the input method's until they make a character.
        if (XFilterEvent(&event, None) == True) {
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
            return translate_key(event.xkey, true);
        case KeyRelease:
            if (is_repeat_release(event.xkey)) {
                return std::nullopt;
            }
            return translate_key(event.xkey, false);
        case ButtonPress:
            if (event.xbutton.button == Button1) {
                return ClickEvent{to_layout(event.xbutton.x), to_layout(event.xbutton.y)};
            }
            if (event.xbutton.button == Button2) {
                paste.request(XA_PRIMARY, event.xbutton.time);
            }
            if (event.xbutton.button == Button4 || event.xbutton.button == Button5) {
                return WheelEvent{event.xbutton.button == Button4 ? 1 : -1};
            }
            return std::nullopt;
        case SelectionNotify:
            paste.on_selection_notify(event.xselection, queued);
            return std::nullopt;
        case PropertyNotify:
            paste.on_property_notify(event.xproperty, queued);
            return std::nullopt;
        case FocusIn:
            if (input_context != nullptr) {
                XSetICFocus(input_context);
            }
            // The pointer's focus is not the user's: keys go to the window under it only.
            focused = event.xfocus.detail != NotifyPointer;
            if (focused && urgent) {
                set_wm_hints(false);
            }
            return std::nullopt;
        case FocusOut:
            if (input_context != nullptr) {
                XUnsetICFocus(input_context);
            }
            focused = false;
            return std::nullopt;
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
            if (event.xclient.message_type == wm_protocols && event.xclient.format == 32 &&
                static_cast<Atom>(event.xclient.data.l[0]) == wm_delete_window) {
                return CloseEvent{};
            }
            return std::nullopt;
        case DestroyNotify:
            if (event.xdestroywindow.window == window) {
                window_alive = false;
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

std::optional<WindowEvent> XWindowSystem::translate_key(XKeyEvent key, bool down) {
    // Index 0 names the key rather than the character, as a virtual-key code does.
    KeySym sym = XLookupKeysym(&key, 0);
    const bool keypad = is_keypad_keysym(sym);
    if (down && (key.state & (ControlMask | Mod4Mask)) != 0) {
        // Ctrl and Super keys are commands, never text; the one command here is paste.
        if ((key.state & ControlMask) != 0 && (sym == XK_v || sym == XK_V)) {
            paste.request(paste.clipboard(), key.time);
        }
        return std::nullopt;
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

std::optional<Latin1Text> XWindowSystem::typed_text(XKeyEvent& key) {
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

bool XWindowSystem::is_repeat_release(const XKeyEvent& key) {
    // Servers without detectable auto-repeat send a release and a press with the same
    // time stamp for every repeat; the release is dropped so that only key-downs repeat.
    if (detectable_repeat || XEventsQueued(display, QueuedAfterReading) == 0) {
        return false;
    }
    XEvent next{};
    XPeekEvent(display, &next);
    return next.type == KeyPress && next.xkey.keycode == key.keycode && next.xkey.time == key.time;
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
    for (std::size_t i = 0; i < colour_count; ++i) {
        XftColorFree(display, visual, colormap, &colours[i].colour);
    }
    colour_count = 0;
    if (draw != nullptr) {
        XftDrawDestroy(draw);
        draw = nullptr;
    }
    if (picture != 0) {
        XFreePixmap(display, picture);
        picture = 0;
    }
    picture_w = 0;
    picture_h = 0;
    if (font != nullptr) {
        XftFontClose(display, font);
        font = nullptr;
    }
    if (gc != nullptr) {
        XFreeGC(display, gc);
        gc = nullptr;
    }
    if (input_context != nullptr) {
        XDestroyIC(input_context);
        input_context = nullptr;
    }
    if (input_method != nullptr) {
        XCloseIM(input_method);
        input_method = nullptr;
    }
    queued.clear();
    if (window_alive) {
        XDestroyWindow(display, window);
        window_alive = false;
    }
    window = 0;
    XCloseDisplay(display);
    display = nullptr;
}

}  // namespace tw
