#pragma once

#include <string>

#include "ui/text_surface.h"
#include "ui/tty/key_decoder.h"
#include "ui/tty/screen_grid.h"
#include "ui/tty/terminal_platform.h"

namespace tw {

// The console on a terminal: the window's rows become the terminal's rows, the prompt on
// the first, and each frame writes only what changed since the terminal last showed it.
class TtyWindowSystem final : public TerminalPlatform, public TextSurface {
  public:
    TtyWindowSystem(ColourMode colours, TextEncoding encoding) : grid(colours, encoding) {}
    ~TtyWindowSystem() override;
    TtyWindowSystem(const TtyWindowSystem&) = delete;
    TtyWindowSystem& operator=(const TtyWindowSystem&) = delete;

    // Takes the terminal over; on false, failure() says why, in one line.
    bool open();
    const std::string& failure() const { return failure_text; }

    TextSurface& begin_frame() override;
    int client_width() const override { return grid.columns(); }
    void end_frame() override;
    void release() override;

    // Text at one of the console's rows becomes that terminal row; the pixel rows in
    // between have no cell of their own and are left out.
    void draw_text(int x, int y, Rgb colour, std::string_view text) override;
    // Each frame starts from a blank grid on the terminal's own background.
    void fill_rect(int, int, int, int, Rgb) override {}

  protected:
    void decode(std::string_view bytes, std::vector<WindowEvent>& events) override;
    void end_of_input(std::vector<WindowEvent>& events) override;
    void resized() override;
    void resumed() override;

  private:
    KeyDecoder keys;
    ScreenGrid grid;
    std::string failure_text;
};

}  // namespace tw
