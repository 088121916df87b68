#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "chat/chat_log.h"

namespace tw {

// How the console lays the history out: the rows it has for it, and how many rows a line
// takes there, more than one when it is wider than the console.
struct LogLayout {
    std::size_t rows = ChatLog::CAPACITY;
    std::function<std::size_t(const LogLine&)> rows_of = [](const LogLine&) {
        return std::size_t{1};
    };
};

// Which rows of the history the console shows: the newest unless the user scrolled back.
struct LogPage {
    // Log rows the console has room for.
    std::size_t rows = ChatLog::CAPACITY;
    // Lines of the history newer than the lowest one shown.
    std::size_t lines_below = 0;
    // Rows of the lowest line shown that lie under the view.
    std::size_t rows_hidden = 0;
    // Rows under the view in all, as the console shows them.
    std::size_t rows_below = 0;
    // Lines that arrived since the user scrolled back.
    std::uint64_t new_lines = 0;
};

// The user's place in the history, counted in rows as shown. It is held by the number a
// line got when it was added, so lines that arrive meanwhile leave the view where it is.
class ScrollBack {
  public:
    // Moves the view by `rows`, older when positive, never above the oldest page nor below
    // the newest row.
    void scroll(std::int64_t rows, const ChatLog& log, const LogLayout& layout);
    void to_newest() { lowest_shown.reset(); }
    bool at_newest() const { return !lowest_shown; }
    LogPage page(const ChatLog& log, const LogLayout& layout) const;

    // The lowest row shown: `hidden` rows of the line numbered `line` lie under it.
    struct Place {
        std::uint64_t line = 0;
        std::size_t hidden = 0;
    };

  private:
    // Where the view stands now, within what the history still holds and the rows its
    // lines take at the console's present width.
    Place current(const ChatLog& log, const LogLayout& layout) const;

    std::optional<Place> lowest_shown;
    std::uint64_t added_when_left = 0;
};

}  // namespace tw
