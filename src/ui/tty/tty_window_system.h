#pragma once

#include <string>

#include "ui/text_surface.h"
#include "ui/tty/key_decoder.h"
#include "ui/tty/screen_grid.h"
#include "ui/tty/terminal_platform.h"

namespace tw {

// The console on a terminal: the window's rows become the terminal's rows, the prompt on
// the first, and each frame writes only what changed since the terminal last showed it.
class TtyWindowSystem final : public TerminalPlatform {
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
    // Every row of the terminal under the prompt, but the last, which holds the scroll mark.
    std::size_t log_rows() const override;
    TextSurface& row_measure() override { return grid.measure(); }
    int row_room() const override { return grid.columns(); }
    bool puts_rows(const ConsoleRows& rows) override;
    // Rings the bell, where the terminal reports that it is not focused, once until it is
    // focused again.
    void ask_attention() override;
    void end_frame() override;
    bool needs_redraw() override;
    void release() override;

  protected:
    void decode(std::string_view bytes, std::vector<WindowEvent>& events) override;
    void end_of_input(std::vector<WindowEvent>& events) override;
    void resized() override;
    void resumed() override;

  private:
    KeyDecoder keys;
    ScreenGrid grid;
    NullSurface nothing;
    std::string failure_text;
    // A new size or a screen handed back: the whole console is drawn again.
    bool redraw = true;
    // The bell rang since the terminal last had the focus.
    bool rang = false;
};

}  // namespace tw
