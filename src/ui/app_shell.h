#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "chat/chat_app.h"
#include "ui/line_editor.h"
#include "ui/menu_strip.h"
#include "ui/pasted_lines.h"
#include "ui/scroll_back.h"
#include "ui/window_system.h"

namespace tw {

// A wait with no end: only an event, a datagram or a signal ends it.
inline constexpr int WAIT_FOREVER = -1;

// Told once for each line that lost characters: peers exchange single Latin-1 bytes.
inline constexpr std::string_view LEFT_OUT_NOTICE = "Only Latin-1 characters travel";
// Said while a paste waits for its answer and another comes.
inline constexpr std::string_view PASTE_BUSY_NOTICE =
    "A paste waits: Enter sends it, Escape drops it";
// Said once a line when it is as long as a chat line may be and more was typed.
std::string line_full_notice();
// Rows one notch of the mouse wheel scrolls, as most desktops do.
inline constexpr int WHEEL_ROWS = 3;

// How long to wait for input before the next frame: until the next deadline, never
// shorter (a frame before it would find nothing to do and the loop would spin), and
// without end when nothing is due at all.
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
    // process's exit code: 1 when a program serving without a user could not serve.
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
    // PageUp and PageDown move through the history; true when the key was one of them.
    bool page(const KeyEvent& key);
    // The history as the window lays it out now, for scrolling by its rows.
    LogLayout history_layout();
    bool run_command(int command);
    void draw_picture();
    // Lines from others since the last frame ask for the user's attention.
    void heed_arrivals();
    // The window's title follows the name and the session.
    void show_title();
    void press(const KeyEvent& key);
    void type(const TextEvent& text);
    // Hands a typed line to the interpreter.
    void enter(std::string line);
    // Enter and Escape answer the question about a paste; true when the key was taken.
    bool answer_paste(const KeyEvent& key);
    void send_pasted();
    // Tells the user once a line that the line is full, when more came for it.
    void tell_if_full(bool more_came);
    PastedLines::Outcome send_pasted_line(const std::string& line);

    WindowSystem& window;
    AppObjects& objects;
    ChatApp app;
    MenuStrip menu_strip;
    ScrollBack scroll_back;
    LineEditor editor;
    PastedLines pasted;
    // The line being typed already told the user that characters outside Latin-1 stay out,
    // or that it is full.
    bool told_left_out = false;
    bool told_full = false;
    // The question about a paste already said that it waits for its answer.
    bool told_busy = false;
    // The picture on screen is out of date: the first frame, or an event since the last.
    bool view_changed = true;
    // The log's added_count() when the picture was last drawn.
    std::uint64_t drawn_log_lines = 0;
    std::string shown_title;
    // The log's added_count() when arrivals were last looked at.
    std::uint64_t heard_log_lines = 0;
};

}  // namespace tw
