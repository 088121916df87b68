#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ui/console_view.h"
#include "ui/text_surface.h"
#include "ui/tty/terminal_colour.h"
#include "ui/tty/terminal_text.h"

namespace tw {

// Every byte takes one cell.
class CellMeasure final : public TextSurface {
  public:
    void draw_text(int, int, Rgb, std::string_view) override {}
    void fill_rect(int, int, int, int, Rgb) override {}
    int advance(unsigned char) override { return 1; }
    int text_width(std::string_view text) override { return static_cast<int>(text.size()); }
};

// The terminal's character cells: the frame being composed, and what the terminal shows
// now. Rendering writes only the rows that differ, so a frame that changes nothing
// writes nothing at all.
class ScreenGrid {
  public:
    ScreenGrid(ColourMode colours, TextEncoding encoding)
        : mode(colours), text_encoding(encoding) {}

    // A new size: everything is drawn again, from a cleared screen.
    void resize(int row_count, int column_count);
    // Forgets what the terminal shows, so that the next render draws every row.
    void invalidate() { full_redraw = true; }
    int rows() const { return static_cast<int>(frame.size()); }
    int columns() const { return width; }
    // What rows are measured with: cells.
    TextSurface& measure() { return cell_measure; }

    // A blank frame.
    void clear();
    // Untrusted text from `column` on; what does not fit is cut at the right edge.
    void put(int row, int column, Rgb colour, std::string_view text);
    // The console's rows on the terminal's, from the first row and column, a row wider than
    // the terminal going on in the rows under it; the typed row shows the part around its
    // caret, with the terminal's cursor as the caret.
    void put_rows(const ConsoleRows& rows);
    // The bytes that bring the terminal from what it shows to the frame.
    std::string render();

  private:
    struct Cell {
        char byte = ' ';
        Rgb colour;
        bool inked = false;

        bool operator==(const Cell&) const = default;
    };
    using Row = std::vector<Cell>;

    struct Place {
        int row = 0;
        int column = 0;

        bool operator==(const Place&) const = default;
    };

    void render_row(std::size_t row, std::string& out) const;
    void put_typed(int row, const ConsoleRow& typed);

    CellMeasure cell_measure;
    ColourMode mode;
    TextEncoding text_encoding;
    int width = 0;
    std::vector<Row> frame;
    std::vector<Row> shown;
    bool full_redraw = true;
    // Where the cursor waits: after the typed text.
    Place caret_place;
    Place shown_caret{-1, -1};
};

}  // namespace tw
