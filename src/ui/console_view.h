#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "chat/chat_log.h"
#include "ui/text_surface.h"

namespace tw {

// Layout of the console, in pixels from the console's own top left corner.
inline constexpr int CONSOLE_LEFT = 15;
inline constexpr int PROMPT_TOP = 15;
inline constexpr int LINE_PITCH = 15;

inline constexpr Rgb PROMPT_COLOUR{255, 0, 0};
inline constexpr Rgb OWN_CHAT_COLOUR{0, 200, 255};
inline constexpr Rgb NOTICE_COLOUR{100, 100, 55};
inline constexpr Rgb PEER_CHAT_COLOUR{0, 0, 255};

inline constexpr std::string_view PROMPT_PREFIX = "> ";
inline constexpr std::string_view NOTICE_PREFIX = " -- ";

Rgb line_colour(LineStyle style);
// The text as the user sees it: notices get their prefix, chat lines are shown unchanged.
std::string line_text(const LogLine& line);

// Most bytes one row hands to the surface, even when they draw nothing (control bytes
// may have no glyph), so that no row costs more than a screenful of text.
inline constexpr std::size_t MAX_ROW_BYTES = 2048;
// Rows never reach further right than this: text runs are measured in 16-bit pixels.
inline constexpr int MAX_ROW_RIGHT = 30000;

// How many leading bytes of `text`, drawn from x, are needed to fill the row up to
// `right`: the byte that crosses the edge is kept, the rest could not be seen.
std::size_t visible_length(TextSurface& surface, std::string_view text, int x, int right);

// One row of the console as it reads: its colour and its text, the prompt's or a notice's
// mark kept apart so that nothing is copied. The views last until the input line or the
// log next changes.
struct ConsoleRow {
    Rgb colour;
    std::string_view mark;
    std::string_view text;
};

// What the console shows, top to bottom: the prompt line, then the log, oldest first.
struct ConsoleRows {
    std::array<ConsoleRow, 1 + ChatLog::CAPACITY> rows{};
    std::size_t count = 0;

    const ConsoleRow* begin() const { return rows.data(); }
    const ConsoleRow* end() const { return rows.data() + count; }
};

ConsoleRows console_rows(const std::string& input_line, const ChatLog& log);

// Lays the rows out in pixels, row k at the prompt's top plus k pitches, each cut where it
// leaves a surface `width` pixels wide. The surface is expected to be freshly filled;
// nothing is erased here.
void draw_console(TextSurface& surface, int width, const ConsoleRows& rows);

}  // namespace tw
