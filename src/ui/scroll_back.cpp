#include "ui/scroll_back.h"

#include <algorithm>

namespace tw {

namespace {

// The number of the lowest line that can be shown when the page above it is full.
std::uint64_t lowest_possible(const ChatLog& log, std::size_t rows) {
    const std::uint64_t oldest = log.added_count() - log.history().size();
    return std::min(oldest + std::max<std::size_t>(rows, 1) - 1, log.added_count() - 1);
}

}  // namespace

void ScrollBack::scroll(std::int64_t lines, const ChatLog& log, std::size_t rows) {
    if (log.added_count() == 0) {
        return;
    }
    const std::uint64_t newest = log.added_count() - 1;
    const auto lowest = static_cast<std::int64_t>(lowest_possible(log, rows));
    // From where the view is now, which lines the history let go of may have moved.
    const auto current = std::max(static_cast<std::int64_t>(newest_shown.value_or(newest)), lowest);
    const std::int64_t wanted =
        std::clamp(current - lines, lowest, static_cast<std::int64_t>(newest));
    if (static_cast<std::uint64_t>(wanted) == newest) {
        newest_shown.reset();
        return;
    }
    if (!newest_shown) {
        added_when_left = log.added_count();
    }
    newest_shown = static_cast<std::uint64_t>(wanted);
}

LogPage ScrollBack::page(const ChatLog& log, std::size_t rows) const {
    LogPage shown{rows, 0, 0};
    if (!newest_shown || log.added_count() == 0) {
        return shown;
    }
    // Lines the history let go of since may have taken the place away.
    const std::uint64_t lowest = std::max(*newest_shown, lowest_possible(log, rows));
    shown.lines_below = static_cast<std::size_t>(log.added_count() - 1 - lowest);
    shown.new_lines = log.added_count() - added_when_left;
    return shown;
}

}  // namespace tw
