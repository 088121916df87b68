#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "chat/chat_log.h"

namespace tw {

// Which lines of the history the console shows: the newest unless the user scrolled back.
struct LogPage {
    // Log rows the console has room for.
    std::size_t rows = ChatLog::CAPACITY;
    // Lines of the history newer than the last one shown.
    std::size_t lines_below = 0;
    // Lines that arrived since the user scrolled back.
    std::uint64_t new_lines = 0;
};

// The user's place in the history. It is held by the number a line got when it was
// added, so lines that arrive meanwhile leave the view where it is.
class ScrollBack {
  public:
    // Moves the view by `lines`, older when positive, never above the oldest page nor
    // below the newest line.
    void scroll(std::int64_t lines, const ChatLog& log, std::size_t rows);
    void to_newest() { newest_shown.reset(); }
    bool at_newest() const { return !newest_shown; }
    LogPage page(const ChatLog& log, std::size_t rows) const;

  private:
    // The number of the lowest line shown while scrolled back.
    std::optional<std::uint64_t> newest_shown;
    std::uint64_t added_when_left = 0;
};

}  // namespace tw
