#pragma once

#include <cstdint>
#include <optional>

#include "chat/chat_app.h"
#include "ui/menu_strip.h"
#include "ui/window_system.h"

namespace tw {

// Longest wait between two frames. Nothing in the program needs frames while it is idle,
// but a bounded wait keeps the frame clock and the display fresh.
inline constexpr int MAX_FRAME_WAIT_MS = 100;

// How long to wait for input before the next frame: until the session layer's next
// deadline, never shorter than that deadline (a frame before it would find nothing to do
// and the loop would spin), and at most MAX_FRAME_WAIT_MS.
int frame_wait_ms(std::optional<float> seconds_until_due);

// The program's window and its one loop: frames that drive the network and redraw the
// console, with key and menu events handled between them.
class AppShell {
  public:
    AppShell(WindowSystem& window_system, AppObjects& app_objects)
        : window(window_system), objects(app_objects), app(app_objects) {}

    // Frames until the window is closed; then shuts networking down. Returns the
    // process's exit code.
    int run();

    void run_frame();
    // False once the event has asked the window to close.
    bool handle_event(const WindowEvent& event);
    // The destroy path: farewell to every peer, then the off-screen picture and window go.
    void shut_down();

    const MenuStrip& menu() const { return menu_strip; }

  private:
    bool handle_key(const KeyEvent& key);
    bool handle_click(const ClickEvent& click);
    bool run_command(int command);
    void draw_picture();

    WindowSystem& window;
    AppObjects& objects;
    ChatApp app;
    MenuStrip menu_strip;
    // The picture on screen is out of date: the first frame, or an event since the last.
    bool view_changed = true;
    // The log's added_count() when the picture was last drawn.
    std::uint64_t drawn_log_lines = 0;
};

}  // namespace tw
