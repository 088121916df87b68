#pragma once

#include <X11/Xlib.h>

#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "ui/window_system.h"
#include "ui/x11/x_drawing.h"
#include "ui/x11/x_input.h"
#include "ui/x11/x_wm_view.h"

namespace tw {

// The window on an X display, the only place that includes Xlib and Xft, in parts as
// small X programs keep theirs: the connection, the window's lifecycle and its events
// here; the picture in XDrawing, typing and pasting in XInput, what the window manager
// sees in XWmView. Frames are composed in a pixmap and copied to the window in one
// XCopyArea, so the window never shows half a frame.
class XWindowSystem final : public WindowSystem {
  public:
    XWindowSystem() = default;
    ~XWindowSystem() override;
    XWindowSystem(const XWindowSystem&) = delete;
    XWindowSystem& operator=(const XWindowSystem&) = delete;

    // Connects to the display that DISPLAY names, loads the font and shows a window of
    // the given client size, times the desktop's scale (Xft.dpi over 96, in quarter
    // steps). On false, failure() says why, in one line.
    bool open(const char* title, int width, int height);
    const std::string& failure() const { return failure_text; }
    // What must still happen when the X server goes away: Xlib cannot carry on after
    // that, so the program says these last words and ends with exit code 1.
    void on_display_lost(std::function<void()> last_words) { display_lost = std::move(last_words); }

    TextSurface& begin_frame() override;
    // In the layout's pixels, which the desktop's scale makes bigger on the screen.
    int client_width() const override { return drawing.to_layout(client_w); }
    std::size_t log_rows() const override;
    TextSurface& row_measure() override { return drawing; }
    void ask_attention() override;
    void set_title(const std::string& utf8) override;
    void end_frame() override;
    bool needs_redraw() override;
    std::optional<WindowEvent> next_event() override;
    void wait(std::intptr_t socket, int timeout_ms) override;
    void release() override;

  private:
    // The window's one lifecycle: none yet (or released), shown, destroyed by another
    // client (noticed in an error, not yet told to the frame loop), or gone.
    enum class Lifecycle { none, shown, lost, gone };

    static int on_error(Display* display, XErrorEvent* error);
    [[noreturn]] static int on_io_error(Display* display);
    // The one window of the process that Xlib's process-wide handlers report to.
    static XWindowSystem* handled;

    bool fail(std::string reason);
    std::optional<WindowEvent> translate(const XEvent& event);

    Display* display = nullptr;
    Window window = 0;
    Lifecycle lifecycle = Lifecycle::none;
    bool redraw_requested = true;
    std::function<void()> display_lost;
    std::string display_name;
    XDrawing drawing;
    XInput input;
    XWmView wm_view;
    // What one X event turned into when it is more than one event of the program's.
    std::deque<WindowEvent> queued;
    // The client height the window was opened with, in the layout's pixels: the height
    // at which the console shows its five rows.
    int first_height = 0;
    int client_w = 0;
    int client_h = 0;
    std::string failure_text;
};

}  // namespace tw
