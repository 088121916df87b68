#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "chat/chat_log.h"
#include "ui/scroll_back.h"
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
// What the program adds to the console, apart from the log's three colours: the mark
// that the prompt shows only its end, and the mark of a view scrolled back.
inline constexpr Rgb MARK_COLOUR{150, 150, 150};

inline constexpr std::string_view PROMPT_PREFIX = "> ";
inline constexpr std::string_view NOTICE_PREFIX = " -- ";
// Stands in, after the prompt's "> ", for the start of a line too wide to show whole
// (Latin-1's left guillemet).
inline constexpr std::string_view MORE_LEFT_MARK = "\xab";
// The caret after the typed line: a bar from just under the row's top.
inline constexpr int CARET_WIDTH = 1;
inline constexpr int CARET_TOP = 1;
inline constexpr int CARET_HEIGHT = 13;

Rgb line_colour(LineStyle style);
// The text as the user sees it: notices get their prefix, chat lines are shown unchanged.
std::string line_text(const LogLine& line);

// Most bytes one row hands to the surface, even when they draw nothing (control bytes
// may have no glyph), so that no row costs more than a screenful of text.
inline constexpr std::size_t MAX_ROW_BYTES = 2048;
// Rows never reach further right than this: text runs are measured in 16-bit pixels.
inline constexpr int MAX_ROW_RIGHT = 30000;

// One row of the console as it reads: its colour and its text, the prompt's or a notice's
// mark kept apart so that nothing is copied. The views last until the input line or the
// log next changes.
struct ConsoleRow {
    Rgb colour;
    std::string_view mark;
    std::string_view text;
    // The row typed into: where it is wider than the console the part around the caret
    // is shown rather than its start.
    bool typed = false;
    // More of the typed line lies before `text` than any row could show.
    bool cut_left = false;
    // Where in `text` the typed row's caret stands.
    std::size_t caret = 0;
};

// The view is not at the newest row: how many rows lie below it, and how many lines of all
// arrived since the user scrolled away.
struct ScrollMark {
    std::size_t rows_below = 0;
    std::uint64_t new_lines = 0;
};

// What the console shows, top to bottom: the prompt line, then the log, oldest first, and
// under it the scroll mark while the view is scrolled back.
struct ConsoleRows {
    std::vector<ConsoleRow> rows;
    std::optional<ScrollMark> scrolled;
    // Rows the log may take: lines wider than the console take a row for each piece, and
    // the oldest pieces give way.
    std::size_t log_room = ChatLog::CAPACITY;
    // Pieces of the lowest line that lie under a view scrolled back.
    std::size_t rows_hidden = 0;

    auto begin() const { return rows.begin(); }
    auto end() const { return rows.end(); }
};

// The prompt, its caret `cursor` bytes into the line (at its end by default), and the page
// of the history that `page` names: at the newest line and five rows, the `ChatLog` itself.
ConsoleRows console_rows(const std::string& input_line, const ChatLog& log,
                         const LogPage& page = {}, std::size_t cursor = std::string::npos);

// The log's rows as shown `room` wide: a row too wide goes on in the rows under it, broken
// after its last blank that fits, or inside a word wider than the row; at most
// `rows.log_room` of them, the lowest that the page shows.
std::vector<ConsoleRow> wrapped_log_rows(TextSurface& measure, int room, const ConsoleRows& rows);
// How wide the log's rows may be in a window `width` pixels wide.
int log_row_room(int width);
// The history laid out as the console shows it, `room` wide by `measure` in `rows` rows, so
// that scrolling and its mark count the rows a wrapped line takes.
LogLayout log_layout(TextSurface& measure, int room, std::size_t rows);

// The part of a typed row shown in `room`: from `from` to `to` of its text, behind the
// left mark when the line's start is not in it. The caret is always in it, and the line's
// end while the caret is there.
struct TypedSpan {
    std::size_t from = 0;
    std::size_t to = 0;
    bool marked = false;
};
TypedSpan typed_span(TextSurface& measure, const ConsoleRow& typed, int room);
std::string scroll_mark_text(const ScrollMark& mark);

// Lays the rows out in pixels, row k at the prompt's top plus k pitches, wrapped where they
// reach the right edge of a surface `width` pixels wide; the typed row shows the part
// around its caret. The surface is expected to be freshly filled; nothing is erased here.
void draw_console(TextSurface& surface, int width, const ConsoleRows& rows);

}  // namespace tw
