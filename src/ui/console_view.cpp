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

ConsoleRows console_rows(const std::string& input_line, const ChatLog& log) {
    ConsoleRows shown;
    // The prompt is cut before anything else looks at it: the typed line has no length
    // limit, and a key must cost the same whether it is the 20th or the 20,000th.
    shown.rows[shown.count++] = {PROMPT_COLOUR, PROMPT_PREFIX,
                                 std::string_view{input_line}.substr(0, MAX_ROW_BYTES)};
    for (std::size_t position = 0; position < log.size() && shown.count < shown.rows.size();
         ++position) {
        const LogLine& line = log.line(position);
        const std::string_view mark = line.style == LineStyle::notice ? NOTICE_PREFIX : "";
        shown.rows[shown.count++] = {line_colour(line.style), mark, line.text};
    }
    return shown;
}

void draw_console(TextSurface& surface, int width, const ConsoleRows& rows) {
    int y = PROMPT_TOP;
    for (const ConsoleRow& row : rows) {
        std::string text{row.mark};
        text += row.text.substr(0, MAX_ROW_BYTES);
        const std::size_t length = visible_length(surface, text, CONSOLE_LEFT, width);
        surface.draw_text(CONSOLE_LEFT, y, row.colour, std::string_view{text}.substr(0, length));
        y += LINE_PITCH;
    }
}

}  // namespace tw
