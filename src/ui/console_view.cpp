#include "ui/console_view.h"

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

void draw_console(TextSurface& surface, const std::string& input_line, const ChatLog& log) {
    std::string prompt{PROMPT_PREFIX};
    prompt += input_line;
    surface.draw_text(CONSOLE_LEFT, PROMPT_TOP, PROMPT_COLOUR, prompt);

    int y = PROMPT_TOP + LINE_PITCH;
    for (std::size_t position = 0; position < log.size(); ++position) {
        const LogLine& line = log.line(position);
        surface.draw_text(CONSOLE_LEFT, y, line_colour(line.style), line_text(line));
        y += LINE_PITCH;
    }
}

}  // namespace tw
