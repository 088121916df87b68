#pragma once

#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>

#include <array>
#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "ui/latin1_text.h"
#include "ui/text_surface.h"
#include "ui/window_system.h"
#include "ui/x11/x_paste.h"

namespace tw {

// The desktop's scale is counted in quarters of the layout's size.
inline constexpr int QUARTER = 4;

// The window on an X display: every Xlib and Xft call of the program is in this class.
// Frames are composed in a pixmap with anti-aliased Xft text and copied to the window in
// one XCopyArea, so the window never shows half a frame.
class XWindowSystem final : public WindowSystem, public TextSurface {
  public:
    XWindowSystem() = default;
    ~XWindowSystem() override;
    XWindowSystem(const XWindowSystem&) = delete;
    XWindowSystem& operator=(const XWindowSystem&) = delete;

    // Connects to the display that DISPLAY names, loads the font and shows a window of
    // the given client size, times the desktop's scale (Xft.dpi over 96, in quarter steps). On
    // false, failure() says why, in one line.
    bool open(const char* title, int width, int height);
    const std::string& failure() const { return failure_text; }
    // What must still happen when the X server goes away: Xlib cannot carry on after
    // that, so the program says these last words and ends with exit code 1.
    void on_display_lost(std::function<void()> last_words) { display_lost = std::move(last_words); }

    TextSurface& begin_frame() override;
    // In the layout's pixels, which the desktop's scale makes bigger on the screen.
    int client_width() const override { return to_layout(client_w); }
    std::size_t log_rows() const override;
    void ask_attention() override;
    void end_frame() override;
    bool needs_redraw() override;
    std::optional<WindowEvent> next_event() override;
    void wait(std::intptr_t socket, int timeout_ms) override;
    void release() override;

    void draw_text(int x, int y, Rgb colour, std::string_view text) override;
    void fill_rect(int x, int y, int width, int height, Rgb colour) override;
    int advance(unsigned char byte) override;
    int text_width(std::string_view text) override;

  private:
    struct CachedColour {
        Rgb rgb;
        XftColor colour;
    };

    static int on_error(Display* display, XErrorEvent* error);
    [[noreturn]] static int on_io_error(Display* display);
    // The one window of the process that Xlib's process-wide handlers report to.
    static XWindowSystem* handled;

    bool fail(std::string reason);
    void set_window_properties(const char* title, int width, int height);
    // The window manager's hints, with the urgency hint while a line waits to be seen.
    void set_wm_hints(bool urgent);
    bool make_picture();
    void open_input_method();
    std::optional<WindowEvent> translate(const XEvent& event);
    std::optional<WindowEvent> translate_key(XKeyEvent key, bool down);
    std::optional<Latin1Text> typed_text(XKeyEvent& key);
    bool is_repeat_release(const XKeyEvent& key);
    const XftColor* colour_of(Rgb rgb);

    Display* display = nullptr;
    int screen = 0;
    Visual* visual = nullptr;
    Colormap colormap = 0;
    int depth = 0;
    Window window = 0;
    bool window_alive = false;
    // Another client destroyed the window; the frame loop hears it as a close.
    bool window_lost = false;
    bool redraw_requested = true;
    bool focused = false;
    bool urgent = false;
    std::function<void()> display_lost;
    std::string display_name;
    Atom wm_protocols = 0;
    Atom wm_delete_window = 0;
    Atom utf8_string = 0;
    XPaste paste;
    // The input method gives the characters of the user's layout, dead keys and compose
    // sequences included; without one, keys are read as Xlib's own table gives them.
    XIM input_method = nullptr;
    XIC input_context = nullptr;
    // What one X event turned into when it is more than one event of the program's.
    std::deque<WindowEvent> queued;
    GC gc = nullptr;
    XftFont* font = nullptr;
    Pixmap picture = 0;
    XftDraw* draw = nullptr;
    // Every coordinate the view draws at is multiplied by this many quarters on the screen.
    int quarters = QUARTER;
    int to_screen(int layout) const { return (layout * quarters + QUARTER / 2) / QUARTER; }
    // Rounded down: a row measured in the layout's pixels is never cut short.
    int to_layout(int screen_pixels) const { return screen_pixels * QUARTER / quarters; }
    // The client height the window was opened with, in the layout's pixels: the height
    // at which the console shows its five rows.
    int first_height = 0;
    int client_w = 0;
    int client_h = 0;
    int picture_w = 0;
    int picture_h = 0;
    bool detectable_repeat = false;
    // The console and the menu use a dozen colours; they are allocated once and kept.
    std::array<CachedColour, 16> colours{};
    std::size_t colour_count = 0;
    std::string failure_text;
    // Pen advance of every byte in the font, measured the first time it is needed; -1
    // while unknown.
    std::array<int, 256> advances{};
};

}  // namespace tw
