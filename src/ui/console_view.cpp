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

std::size_t visible_length(TextSurface& surface, std::string_view text, int x, int right) {
    right = std::min(right, MAX_ROW_RIGHT);
    const std::size_t limit = std::min(text.size(), MAX_ROW_BYTES);
    std::size_t count = 0;
    while (count < limit && x < right) {
        x += surface.advance(static_cast<unsigned char>(text[count]));
        ++count;
    }
    return count;
}

std::size_t fitting_tail(TextSurface& surface, std::string_view text, int room) {
    std::size_t count = 0;
    while (count < text.size()) {
        room -= surface.advance(static_cast<unsigned char>(text[text.size() - 1 - count]));
        if (room < 0) {
            break;
        }
        ++count;
    }
    return count;
}

ConsoleRows console_rows(const std::string& input_line, const ChatLog& log, const LogPage& page) {
    ConsoleRows shown;
    shown.rows.reserve(1 + page.rows);
    // The prompt is cut before anything else looks at it: the typed line has no length
    // limit, and a key must cost the same whether it is the 20th or the 20,000th. Its end
    // is what is being typed, so the end is kept.
    const std::string_view typed{input_line};
    const std::size_t kept = std::min(typed.size(), MAX_ROW_BYTES);
    shown.rows.push_back({PROMPT_COLOUR, PROMPT_PREFIX, typed.substr(typed.size() - kept), true,
                          kept < typed.size()});
    const ChatHistory& history = log.history();
    const std::size_t last = history.size() - std::min(history.size(), page.lines_below);
    const std::size_t first = last - std::min(last, page.rows);
    for (std::size_t position = first; position < last; ++position) {
        const LogLine& line = history.line(position);
        const std::string_view mark = line.style == LineStyle::notice ? NOTICE_PREFIX : "";
        shown.rows.push_back({line_colour(line.style), mark, line.text});
    }
    if (page.lines_below > 0) {
        shown.scrolled = ScrollMark{page.lines_below, page.new_lines};
    }
    return shown;
}

std::string scroll_mark_text(const ScrollMark& mark) {
    std::string text = "-- " + std::to_string(mark.lines_below) +
                       (mark.lines_below == 1 ? " line below" : " lines below");
    if (mark.new_lines > 0) {
        text += ", " + std::to_string(mark.new_lines) + " new";
    }
    return text + " --";
}

namespace {

// The advances may each be rounded down; the run as a whole is measured again, so that the
// end of the line is never pushed past the edge by the rounding.
std::string_view tail_that_fits(TextSurface& surface, std::string_view text, int room) {
    // The longest end that fits, found by halving: a run is measured a dozen times at most.
    std::size_t fits = 0;
    std::size_t too_long = fitting_tail(surface, text, room) + 1;
    while (too_long - fits > 1) {
        const std::size_t middle = fits + (too_long - fits) / 2;
        if (surface.text_width(text.substr(text.size() - middle)) <= room) {
            fits = middle;
        } else {
            too_long = middle;
        }
    }
    return text.substr(text.size() - fits);
}

// "> ", then as much of the line's end as fits before the caret, behind a mark when the
// start had to go.
void draw_typed(TextSurface& surface, int width, int y, const ConsoleRow& row) {
    const int start = CONSOLE_LEFT + surface.text_width(row.mark);
    const int room = std::min(width, MAX_ROW_RIGHT) - start - CARET_WIDTH;
    std::string_view tail = tail_that_fits(surface, row.text, room);
    int x = CONSOLE_LEFT;
    std::string text{row.mark};
    if (tail.size() < row.text.size() || row.cut_left) {
        surface.draw_text(x, y, row.colour, row.mark);
        const int mark_width = surface.text_width(MORE_LEFT_MARK);
        surface.draw_text(start, y, MARK_COLOUR, MORE_LEFT_MARK);
        x = start + mark_width;
        tail = tail_that_fits(surface, row.text, room - mark_width);
        text.clear();
    }
    text += tail;
    surface.draw_text(x, y, row.colour, text);
    x += surface.text_width(text);
    surface.fill_rect(x, y + CARET_TOP, CARET_WIDTH, CARET_HEIGHT, row.colour);
}

}  // namespace

void draw_console(TextSurface& surface, int width, const ConsoleRows& rows) {
    int y = PROMPT_TOP;
    for (const ConsoleRow& row : rows) {
        if (row.typed) {
            draw_typed(surface, width, y, row);
            y += LINE_PITCH;
            continue;
        }
        std::string text{row.mark};
        text += row.text.substr(0, MAX_ROW_BYTES);
        const std::size_t length = visible_length(surface, text, CONSOLE_LEFT, width);
        surface.draw_text(CONSOLE_LEFT, y, row.colour, std::string_view{text}.substr(0, length));
        y += LINE_PITCH;
    }
    if (rows.scrolled) {
        surface.draw_text(CONSOLE_LEFT, y, MARK_COLOUR, scroll_mark_text(*rows.scrolled));
    }
}

}  // namespace tw
