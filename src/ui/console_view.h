#pragma once

#include <string>

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

// Draws the prompt line and then the log, oldest line first. The surface is expected to
// be freshly filled; nothing is erased here.
void draw_console(TextSurface& surface, const std::string& input_line, const ChatLog& log);

}  // namespace tw
