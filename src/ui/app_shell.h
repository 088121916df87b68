#pragma once

#include <cstdint>
#include <deque>
#include <optional>

#include "chat/chat_app.h"
#include "ui/menu_strip.h"
#include "ui/window_system.h"

namespace tw {

// Longest wait between two frames. Nothing in the program needs frames while it is idle,
// but a bounded wait keeps the frame clock and the display fresh.
inline constexpr int MAX_FRAME_WAIT_MS = 100;
// While a connect is being waited for, the window is looked at this often: often enough
// that the wait ends within a frame of the answer, and seldom enough to leave the CPU idle.
inline constexpr int CONNECT_TURN_MS = 10;
// Events kept for after a connect: minutes of typing, or one paste's worth of them.
inline constexpr std::size_t MAX_DEFERRED_EVENTS = 4096;

// How long to wait for input before the next frame: until the session layer's next
// deadline, never shorter than that deadline (a frame before it would find nothing to do
// and the loop would spin), and at most MAX_FRAME_WAIT_MS.
int frame_wait_ms(std::optional<float> seconds_until_due);

// The program's window and its one loop: frames that drive the network and redraw the
// console, with key and menu events handled between them.
class AppShell {
  public:
    AppShell(WindowSystem& window_system, AppObjects& app_objects);
    ~AppShell();
    AppShell(const AppShell&) = delete;
    AppShell& operator=(const AppShell&) = delete;

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
    void press(const KeyEvent& key);
    void type(const std::string& text);
    // One turn of the wait for a connect: frames go on, the menu and the close box work,
    // and what would edit the prompt waits for the end of the connect. False once the
    // user asked to leave.
    bool connect_turn();
    bool take_during_connect(const WindowEvent& event);
    // Hands the events kept during a connect to the prompt, oldest first.
    bool replay_deferred();

    WindowSystem& window;
    AppObjects& objects;
    ChatApp app;
    MenuStrip menu_strip;
    // The picture on screen is out of date: the first frame, or an event since the last.
    bool view_changed = true;
    // The log's added_count() when the picture was last drawn.
    std::uint64_t drawn_log_lines = 0;
    std::deque<WindowEvent> deferred;
    bool leaving = false;
};

}  // namespace tw
