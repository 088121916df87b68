#include "ui/console_view.h"

#include <algorithm>
#include <cstddef>

namespace tw {

Rgb line_colour(LineStyle style) {
    switch (style) {
        case LineStyle::own_chat:
            return OWN_CHAT_COLOUR;
        case LineStyle::notice:
            return NOTICE_COLOUR;
        case LineStyle::peer_chat:
            return PEER_CHAT_COLOUR;
    }
    // The log stores only the three styles; a value outside them still gets drawn,
    // in the least prominent colour, rather than dropped.
    return NOTICE_COLOUR;
}

std::string line_text(const LogLine& line) {
    if (line.style == LineStyle::notice) {
        std::string text{NOTICE_PREFIX};
        text += line.text;
        return text;
    }
    return line.text;
}

namespace {

ConsoleRow log_row(const LogLine& line) {
    const std::string_view mark = line.style == LineStyle::notice ? NOTICE_PREFIX : "";
    return {line_colour(line.style), mark, line.text};
}

}  // namespace

ConsoleRows console_rows(const std::string& input_line, const ChatLog& log, const LogPage& page,
                         std::size_t cursor) {
    ConsoleRows shown;
    shown.rows.reserve(1 + page.rows);
    shown.log_room = page.rows;
    shown.rows_hidden = page.rows_hidden;
    // The prompt is cut before anything else looks at it: the typed line may be long, and a
    // key must cost the same whether it is the 20th or the 20,000th. The part kept is the
    // one around the caret, its end while the caret is there.
    const std::string_view typed{input_line};
    const std::size_t caret = std::min(cursor, typed.size());
    const std::size_t kept = std::min(typed.size(), MAX_ROW_BYTES);
    const std::size_t from =
        std::min(caret - std::min(caret, MAX_ROW_BYTES / 2), typed.size() - kept);
    ConsoleRow prompt{PROMPT_COLOUR, PROMPT_PREFIX, typed.substr(from, kept), true, from > 0};
    prompt.caret = caret - from;
    shown.rows.push_back(prompt);
    const ChatHistory& history = log.history();
    const std::size_t last = history.size() - std::min(history.size(), page.lines_below);
    const std::size_t first = last - std::min(last, page.rows);
    for (std::size_t position = first; position < last; ++position) {
        shown.rows.push_back(log_row(history.line(position)));
    }
    if (page.rows_below > 0) {
        shown.scrolled = ScrollMark{page.rows_below, page.new_lines};
    }
    return shown;
}

namespace {

// How many leading bytes of `text` fit in `room`, by the run's own measure (which the
// advances may round down); found by halving, so a run is measured a dozen times at most.
std::size_t fitting_head(TextSurface& measure, std::string_view text, int room) {
    std::size_t fits = 0;
    std::size_t too_long = text.size() + 1;
    while (too_long - fits > 1) {
        const std::size_t middle = fits + (too_long - fits) / 2;
        if (measure.text_width(text.substr(0, middle)) <= room) {
            fits = middle;
        } else {
            too_long = middle;
        }
    }
    return fits;
}

std::size_t fitting_tail(TextSurface& measure, std::string_view text, int room) {
    std::size_t fits = 0;
    std::size_t too_long = text.size() + 1;
    while (too_long - fits > 1) {
        const std::size_t middle = fits + (too_long - fits) / 2;
        if (measure.text_width(text.substr(text.size() - middle)) <= room) {
            fits = middle;
        } else {
            too_long = middle;
        }
    }
    return fits;
}

// Hands `piece` each row that `row` takes `room` wide, its mark on the first.
template <typename Piece>
void for_each_piece(TextSurface& measure, int room, const ConsoleRow& row, Piece&& piece) {
    std::string_view rest = row.text;
    std::string_view mark = row.mark;
    do {
        const int text_room = room - measure.text_width(mark);
        // A row that fits is measured once: the history's rows are counted for every picture.
        std::size_t length = rest.size();
        if (rest.size() > MAX_ROW_BYTES || measure.text_width(rest) > text_room) {
            // A row takes at least one byte, so that the pieces always end.
            length = std::max<std::size_t>(
                fitting_head(measure, rest.substr(0, MAX_ROW_BYTES), text_room), 1);
            length = std::min(length, rest.size());
            const std::size_t blank = rest.substr(0, length).rfind(' ');
            if (length < rest.size() && blank != std::string_view::npos && blank > 0) {
                length = blank + 1;
            }
        }
        piece(ConsoleRow{row.colour, mark, rest.substr(0, length)});
        rest.remove_prefix(length);
        mark = {};
    } while (!rest.empty());
}

}  // namespace

std::vector<ConsoleRow> wrapped_log_rows(TextSurface& measure, int room, const ConsoleRows& rows) {
    std::vector<ConsoleRow> pieces;
    std::size_t lowest_line_pieces = 0;
    for (const ConsoleRow& row : rows) {
        if (!row.typed) {
            const std::size_t before = pieces.size();
            for_each_piece(measure, room, row,
                           [&pieces](const ConsoleRow& piece) { pieces.push_back(piece); });
            lowest_line_pieces = pieces.size() - before;
        }
    }
    // Scrolled back, the view may end inside a line; at least its first row stays.
    const std::size_t hidden =
        std::min(rows.rows_hidden, std::max<std::size_t>(lowest_line_pieces, 1) - 1);
    pieces.erase(pieces.end() - static_cast<std::ptrdiff_t>(hidden), pieces.end());
    const std::size_t room_rows = rows.log_room;
    if (pieces.size() > room_rows) {
        pieces.erase(pieces.begin(), pieces.end() - static_cast<std::ptrdiff_t>(room_rows));
    }
    return pieces;
}

int log_row_room(int width) {
    return std::min(width, MAX_ROW_RIGHT) - CONSOLE_LEFT;
}

LogLayout log_layout(TextSurface& measure, int room, std::size_t rows) {
    return {rows, [&measure, room](const LogLine& line) {
                std::size_t count = 0;
                for_each_piece(measure, room, log_row(line),
                               [&count](const ConsoleRow&) { ++count; });
                return count;
            }};
}

TypedSpan typed_span(TextSurface& measure, const ConsoleRow& typed, int room) {
    const std::string_view text = typed.text;
    const std::size_t caret = std::min(typed.caret, text.size());
    if (!typed.cut_left && measure.text_width(text) <= room) {
        return {0, text.size(), false};
    }
    // The line's start, while the caret is in what fits of it.
    if (!typed.cut_left) {
        const std::size_t head = fitting_head(measure, text, room);
        if (caret < head) {
            return {0, head, false};
        }
    }
    const int marked_room = room - measure.text_width(MORE_LEFT_MARK);
    // The line's end, while the caret is in what fits of it.
    const std::size_t tail = fitting_tail(measure, text, marked_room);
    if (caret >= text.size() - tail) {
        return {text.size() - tail, text.size(), true};
    }
    // Elsewhere the caret stands in the middle, with as much of the line around it as fits.
    const std::size_t before = fitting_tail(measure, text.substr(0, caret), marked_room / 2);
    const std::size_t from = caret - before;
    return {from, from + fitting_head(measure, text.substr(from), marked_room), true};
}

std::string scroll_mark_text(const ScrollMark& mark) {
    std::string text = "-- " + std::to_string(mark.rows_below) +
                       (mark.rows_below == 1 ? " row below" : " rows below");
    if (mark.new_lines > 0) {
        text += ", " + std::to_string(mark.new_lines) + " new";
    }
    return text + " --";
}

namespace {

// "> ", then the part of the line around the caret, behind a mark when the start is not in it.
void draw_typed(TextSurface& surface, int width, int y, const ConsoleRow& row) {
    const int start = CONSOLE_LEFT + surface.text_width(row.mark);
    const int room = std::min(width, MAX_ROW_RIGHT) - start - CARET_WIDTH;
    const TypedSpan span = typed_span(surface, row, room);
    const std::string_view shown = row.text.substr(span.from, span.to - span.from);
    std::string text{row.mark};
    int x = CONSOLE_LEFT;
    if (span.marked) {
        surface.draw_text(x, y, row.colour, row.mark);
        surface.draw_text(start, y, MARK_COLOUR, MORE_LEFT_MARK);
        x = start + surface.text_width(MORE_LEFT_MARK);
        text.clear();
    }
    const std::size_t before_text = text.size();
    text += shown;
    surface.draw_text(x, y, row.colour, text);
    const std::size_t caret = std::min(row.caret, span.to) - std::min(row.caret, span.from);
    const int caret_x =
        x + surface.text_width(std::string_view{text}.substr(0, before_text + caret));
    surface.fill_rect(caret_x, y + CARET_TOP, CARET_WIDTH, CARET_HEIGHT, row.colour);
}

}  // namespace

void draw_console(TextSurface& surface, int width, const ConsoleRows& rows) {
    int y = PROMPT_TOP;
    for (const ConsoleRow& row : rows) {
        if (row.typed) {
            draw_typed(surface, width, y, row);
            y += LINE_PITCH;
        }
    }
    for (const ConsoleRow& row : wrapped_log_rows(surface, log_row_room(width), rows)) {
        std::string text{row.mark};
        text += row.text;
        surface.draw_text(CONSOLE_LEFT, y, row.colour, text);
        y += LINE_PITCH;
    }
    if (rows.scrolled) {
        surface.draw_text(CONSOLE_LEFT, y, MARK_COLOUR, scroll_mark_text(*rows.scrolled));
    }
}

}  // namespace tw
