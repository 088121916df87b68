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

namespace {

void draw_row(TextSurface& surface, int width, int y, Rgb colour, std::string_view text) {
    const std::size_t length = visible_length(surface, text, CONSOLE_LEFT, width);
    surface.draw_text(CONSOLE_LEFT, y, colour, text.substr(0, length));
}

}  // namespace

void draw_console(TextSurface& surface, int width, const std::string& input_line,
                  const ChatLog& log) {
    // The prompt is cut before it is built: the typed line has no length limit, and a
    // key must cost the same whether it is the 20th or the 20,000th.
    std::string prompt{PROMPT_PREFIX};
    prompt += std::string_view{input_line}.substr(0, MAX_ROW_BYTES);
    draw_row(surface, width, PROMPT_TOP, PROMPT_COLOUR, prompt);

    int y = PROMPT_TOP + LINE_PITCH;
    for (std::size_t position = 0; position < log.size(); ++position) {
        const LogLine& line = log.line(position);
        draw_row(surface, width, y, line_colour(line.style), line_text(line));
        y += LINE_PITCH;
    }
}

}  // namespace tw
