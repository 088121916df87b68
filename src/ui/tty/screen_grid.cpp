#include "ui/tty/screen_grid.h"

#include <algorithm>
#include <cstddef>

namespace tw {

namespace {

constexpr std::string_view RESET_ATTRIBUTES = "\x1b[0m";
constexpr std::string_view ERASE_SCREEN = "\x1b[H\x1b[2J";
constexpr std::string_view ERASE_TO_LINE_END = "\x1b[K";
constexpr std::string_view HIDE_CURSOR = "\x1b[?25l";
constexpr std::string_view SHOW_CURSOR = "\x1b[?25h";

}  // namespace

void ScreenGrid::resize(int row_count, int column_count) {
    shown_caret = Place{-1, -1};
    width = std::max(column_count, 0);
    const auto count = static_cast<std::size_t>(std::max(row_count, 0));
    frame.assign(count, Row(static_cast<std::size_t>(width)));
    shown = frame;
    full_redraw = true;
}

void ScreenGrid::clear() {
    for (Row& row : frame) {
        std::fill(row.begin(), row.end(), Cell{});
    }
}

void ScreenGrid::put(int row, int column, Rgb colour, std::string_view text) {
    if (row < 0 || row >= rows() || column < 0) {
        return;
    }
    Row& cells = frame[static_cast<std::size_t>(row)];
    auto position = static_cast<std::size_t>(column);
    for (const char byte : text) {
        if (position >= cells.size()) {
            return;
        }
        cells[position] = Cell{displayable_byte(byte), colour, true};
        ++position;
    }
}

void ScreenGrid::put_rows(const ConsoleRows& rows) {
    int row = 0;
    for (const ConsoleRow& console_row : rows) {
        if (console_row.typed) {
            put_typed(row, console_row);
            ++row;
        }
    }
    for (const ConsoleRow& piece : wrapped_log_rows(cell_measure, width, rows)) {
        put(row, 0, piece.colour, piece.mark);
        put(row, static_cast<int>(piece.mark.size()), piece.colour, piece.text);
        ++row;
    }
    if (rows.scrolled) {
        put(row, 0, MARK_COLOUR, scroll_mark_text(*rows.scrolled));
    }
}

void ScreenGrid::put_typed(int row, const ConsoleRow& typed) {
    const auto start = static_cast<int>(typed.mark.size());
    put(row, 0, typed.colour, typed.mark);
    // One cell stays free for the cursor after the text.
    const TypedSpan span = typed_span(cell_measure, typed, std::max(width - start - 1, 0));
    int column = start;
    if (span.marked) {
        put(row, column, MARK_COLOUR, MORE_LEFT_MARK);
        ++column;
    }
    put(row, column, typed.colour, typed.text.substr(span.from, span.to - span.from));
    const std::size_t caret = std::min(typed.caret, span.to) - std::min(typed.caret, span.from);
    caret_place = Place{row, std::min(column + static_cast<int>(caret), std::max(width - 1, 0))};
}

std::string ScreenGrid::render() {
    std::string out;
    if (full_redraw) {
        out += RESET_ATTRIBUTES;
        out += ERASE_SCREEN;
        for (Row& row : shown) {
            std::fill(row.begin(), row.end(), Cell{});
        }
        full_redraw = false;
    }
    for (std::size_t row = 0; row < frame.size(); ++row) {
        if (frame[row] != shown[row]) {
            render_row(row, out);
            shown[row] = frame[row];
        }
    }
    if (out.empty() && caret_place == shown_caret) {
        return out;
    }
    // The cursor is hidden while rows are written, so it is seen only at the caret.
    out = std::string{HIDE_CURSOR} + out + "\x1b[" + std::to_string(caret_place.row + 1) + ";" +
          std::to_string(caret_place.column + 1) + "H" + std::string{SHOW_CURSOR};
    shown_caret = caret_place;
    return out;
}

void ScreenGrid::render_row(std::size_t row, std::string& out) const {
    out += "\x1b[" + std::to_string(row + 1) + ";1H";
    const Row& cells = frame[row];
    const auto last_inked =
        std::find_if(cells.rbegin(), cells.rend(), [](const Cell& cell) { return cell.inked; });
    const auto used = static_cast<std::size_t>(cells.rend() - last_inked);
    bool coloured = false;
    Rgb current{};
    for (std::size_t column = 0; column < used; ++column) {
        const Cell& cell = cells[column];
        if (cell.inked && (!coloured || cell.colour != current)) {
            out += foreground_sequence(cell.colour, mode);
            current = cell.colour;
            coloured = true;
        }
        out += terminal_text(std::string_view{&cell.byte, 1}, text_encoding);
    }
    out += RESET_ATTRIBUTES;
    // Without wrap the cursor stays on the last column once it is written, and erasing
    // from there would take that last character away again.
    if (used < cells.size()) {
        out += ERASE_TO_LINE_END;
    }
}

}  // namespace tw
