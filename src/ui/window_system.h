#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "ui/console_view.h"
#include "ui/text_surface.h"

namespace tw {

// A key went down or up. `vk` is a Windows virtual-key code (virtual_key.h); the
// modifier flags are their state as of this event. `typed` says that the character the
// key typed comes as a TextEvent of its own: the key still reaches the menu, never the line.
// A key held with Ctrl types nothing; some edit the line.
struct KeyEvent {
    int vk = 0;
    bool down = false;
    bool shift = false;
    bool alt = false;
    bool typed = false;
    bool ctrl = false;

    bool operator==(const KeyEvent&) const = default;
};

// The primary button went down at (x, y) of the client area.
struct ClickEvent {
    int x = 0;
    int y = 0;

    bool operator==(const ClickEvent&) const = default;
};

// The user asked the window to close (its close box), or it was destroyed from outside.
struct CloseEvent {
    bool operator==(const CloseEvent&) const = default;
};

// Characters that reached the window as text rather than as keys: a letter of the user's
// layout that no key of the US table types, or a whole paste. Latin-1 bytes, with '\n'
// for every line break; `left_out` counts the characters Latin-1 has not, which no peer
// could be sent.
struct TextEvent {
    std::string text;
    std::size_t left_out = 0;

    bool operator==(const TextEvent&) const = default;
};

// The most of one paste that is kept; a notice tells what was left out.
inline constexpr std::size_t MAX_PASTE_BYTES = 64 * 1024;

// The mouse wheel turned by `notches`, towards older lines when positive.
struct WheelEvent {
    int notches = 0;

    bool operator==(const WheelEvent&) const = default;
};

// Something the window has to tell the user, such as a paste that was cut: a notice in the log.
struct NoticeEvent {
    std::string text;

    bool operator==(const NoticeEvent&) const = default;
};

using WindowEvent =
    std::variant<KeyEvent, ClickEvent, CloseEvent, TextEvent, WheelEvent, NoticeEvent>;

// What the frame loop needs from a window system: the one window, its off-screen
// picture, its events, and a wait that also watches the network socket. An X11 version
// lives in x11/; another platform can be added beside it.
class WindowSystem {
  public:
    virtual ~WindowSystem() = default;

    // The off-screen picture of the client area at its current size, filled black; it is
    // made again only when that size changed since the last frame.
    virtual TextSurface& begin_frame() = 0;
    virtual int client_width() const = 0;
    // Rows of the log the console has room for: the five at the window's first size, and
    // as many more as a taller window adds.
    virtual std::size_t log_rows() const { return ChatLog::CAPACITY; }
    // What the log's rows are measured with, between frames as well, and how wide they may
    // be in its units: scrolling counts the rows that a line wider than the console takes.
    virtual TextSurface& row_measure() = 0;
    virtual int row_room() const { return log_row_room(client_width()); }
    // A window of character cells puts the console's rows on rows of its own and says so;
    // a window of pixels leaves them to the frame loop, which lays them out at its pitch.
    virtual bool puts_rows(const ConsoleRows&) { return false; }
    // A line arrived that the user should learn of: a window the user is not looking at
    // asks the desktop for attention, until it is looked at again.
    virtual void ask_attention() {}
    // The title that says who and where (UTF-8); asked only when it changed.
    virtual void set_title(const std::string& /*utf8*/) {}
    // Copies the picture to the window in one operation.
    virtual void end_frame() = 0;
    // True once after the window was exposed or resized: the next frame must draw even
    // if nothing it shows has changed. The frame loop draws nothing otherwise.
    virtual bool needs_redraw() = 0;

    // Takes one event that has already arrived, never waiting.
    virtual std::optional<WindowEvent> next_event() = 0;
    // Returns at once when an event is already waiting; otherwise waits until one may
    // have arrived, `socket` (ignored when negative) is readable, or `timeout_ms` passed.
    virtual void wait(std::intptr_t socket, int timeout_ms) = 0;
    // Whether the frame loop draws its "File" menu strip above the console. A platform
    // whose windows have a menu bar of their own handles "File" > "Exit" there and reports
    // it as a close; a terminal has neither and leaves by Ctrl+C.
    virtual bool wants_menu_strip() const { return true; }

    // Whether each Enter ends a whole line of input (a pipe's lines) rather than what the
    // user sees in the prompt: a line that could not be sent is then not kept, or the
    // next line would be typed onto it.
    virtual bool enters_whole_lines() const { return false; }
    // Whether the program serves for others without a user to read a refusal (a pipe, a
    // service): a "serve" that cannot bind its port then ends it with a failure.
    virtual bool ends_when_serve_fails() const { return false; }

    // The window goes away: the off-screen picture is released and the window destroyed.
    virtual void release() = 0;
};

}  // namespace tw
