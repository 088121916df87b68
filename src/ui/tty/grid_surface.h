#pragma once

#include "ui/console_view.h"
#include "ui/text_surface.h"
#include "ui/tty/screen_grid.h"

namespace tw {

// The console's pixel layout on character cells: text drawn at one of the console's rows
// (the prompt's top, then every LINE_PITCH below it) lands on that terminal row from the
// first column. Pixel rows in between have no cell of their own and are left out.
class GridSurface final : public TextSurface {
  public:
    explicit GridSurface(ScreenGrid& cells) : grid(cells) {}

    void draw_text(int x, int y, Rgb colour, std::string_view text) override {
        const int from_prompt = y - PROMPT_TOP;
        if (from_prompt < 0 || from_prompt % LINE_PITCH != 0 || x < CONSOLE_LEFT) {
            return;
        }
        grid.put(from_prompt / LINE_PITCH, 0, colour, text);
    }
    // Each frame starts from a blank grid on the terminal's own background.
    void fill_rect(int, int, int, int, Rgb) override {}
    // One byte is one cell, so the view's pixel arithmetic counts columns.
    int advance(unsigned char) override { return 1; }

  private:
    ScreenGrid& grid;
};

}  // namespace tw
