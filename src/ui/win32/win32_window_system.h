#pragma once

#include <windows.h>
#include <winsock2.h>

#include <array>
#include <deque>
#include <string>

#include "ui/console_view.h"
#include "ui/text_surface.h"
#include "ui/window_system.h"

namespace tw {

// The window on Windows: every Win32 window and GDI call of the program is in this class.
// Frames are composed in an off-screen bitmap and copied to the window with one BitBlt.
// The menu is the native "File" > "Exit" menu of the window's class.
class Win32WindowSystem final : public WindowSystem, public TextSurface {
  public:
    Win32WindowSystem() = default;
    ~Win32WindowSystem() override;
    Win32WindowSystem(const Win32WindowSystem&) = delete;
    Win32WindowSystem& operator=(const Win32WindowSystem&) = delete;

    // Registers the class, creates and shows the window. On false, failure() says why.
    bool open(HINSTANCE instance, int show_mode);
    const std::string& failure() const { return failure_text; }

    TextSurface& begin_frame() override;
    int client_width() const override { return client_w; }
    std::size_t log_rows() const override;
    TextSurface& row_measure() override { return *this; }
    // Flashes the task bar button until the window comes to the front.
    void ask_attention() override;
    void set_title(const std::string& utf8) override;
    void end_frame() override;
    bool needs_redraw() override;
    std::optional<WindowEvent> next_event() override;
    void wait(std::intptr_t socket, int timeout_ms) override;
    void release() override;
    bool wants_menu_strip() const override { return false; }

    void draw_text(int x, int y, Rgb colour, std::string_view text) override;
    void fill_rect(int x, int y, int width, int height, Rgb colour) override;
    int advance(unsigned char byte) override;

  private:
    static LRESULT CALLBACK window_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT handle(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    bool fail(std::string reason);
    void make_picture();
    void release_picture();
    void watch_socket(std::intptr_t socket);
    void on_key(int code, bool down);
    // Ctrl+V and Shift+Insert: the clipboard's text, as a paste.
    void paste_clipboard();

    HWND window = nullptr;
    HDC window_dc = nullptr;
    HDC picture_dc = nullptr;
    HBITMAP picture = nullptr;
    HGDIOBJ previous_bitmap = nullptr;
    HGDIOBJ previous_font = nullptr;
    int client_w = 0;
    int client_h = 0;
    // The client height the window was created with: the one at which five rows show.
    int first_client_h = 0;
    // The key that just went down is on the keypad, which types nothing: the character
    // message made of it is dropped.
    bool keypad_key = false;
    HANDLE socket_event = nullptr;
    bool closing = false;
    bool redraw_requested = true;
    // Pen advance of every byte in the picture's font, read once with the font.
    std::array<int, 256> advances{};
    std::deque<WindowEvent> events;
    std::string failure_text;
};

}  // namespace tw
