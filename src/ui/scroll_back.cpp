#include "ui/scroll_back.h"

#include <algorithm>

namespace tw {

namespace {

using Place = ScrollBack::Place;

std::uint64_t oldest_kept(const ChatLog& log) {
    return log.added_count() - log.history().size();
}

std::size_t rows_of(const ChatLog& log, const LogLayout& layout, std::uint64_t line) {
    const auto position = static_cast<std::size_t>(line - oldest_kept(log));
    return std::max<std::size_t>(layout.rows_of(log.history().line(position)), 1);
}

bool older(const Place& place, const Place& other) {
    return place.line < other.line || (place.line == other.line && place.hidden > other.hidden);
}

// The lowest row of the oldest page, the one whose top row is the oldest line's first: a
// wrapped oldest line is never cut at the top.
Place highest_place(const ChatLog& log, const LogLayout& layout) {
    const std::uint64_t newest = log.added_count() - 1;
    const std::size_t page_rows = std::max<std::size_t>(layout.rows, 1);
    std::size_t rows = 0;
    for (std::uint64_t line = oldest_kept(log); line <= newest; ++line) {
        rows += rows_of(log, layout, line);
        if (rows >= page_rows) {
            return {line, rows - page_rows};
        }
    }
    return {newest, 0};
}

Place rows_up(Place place, std::uint64_t rows, const ChatLog& log, const LogLayout& layout) {
    const std::uint64_t oldest = oldest_kept(log);
    while (place.line > oldest) {
        const std::size_t above = rows_of(log, layout, place.line) - 1 - place.hidden;
        if (rows <= above) {
            break;
        }
        rows -= above + 1;
        --place.line;
        place.hidden = 0;
    }
    const std::size_t above = rows_of(log, layout, place.line) - 1 - place.hidden;
    place.hidden += static_cast<std::size_t>(std::min<std::uint64_t>(rows, above));
    return place;
}

Place rows_down(Place place, std::uint64_t rows, const ChatLog& log, const LogLayout& layout) {
    const std::uint64_t newest = log.added_count() - 1;
    while (place.line < newest && rows > place.hidden) {
        rows -= place.hidden + 1;
        ++place.line;
        place.hidden = rows_of(log, layout, place.line) - 1;
    }
    place.hidden -= static_cast<std::size_t>(std::min<std::uint64_t>(rows, place.hidden));
    return place;
}

}  // namespace

Place ScrollBack::current(const ChatLog& log, const LogLayout& layout) const {
    Place place = lowest_shown.value_or(Place{log.added_count() - 1, 0});
    // Lines the history let go of, or a console of another width, may have taken the place
    // away.
    const Place highest = highest_place(log, layout);
    if (place.line < oldest_kept(log)) {
        return highest;
    }
    place.hidden = std::min(place.hidden, rows_of(log, layout, place.line) - 1);
    return older(place, highest) ? highest : place;
}

void ScrollBack::scroll(std::int64_t rows, const ChatLog& log, const LogLayout& layout) {
    if (log.history().size() == 0) {
        return;
    }
    const Place from = current(log, layout);
    const Place wanted = rows > 0
                             ? rows_up(from, static_cast<std::uint64_t>(rows), log, layout)
                             : rows_down(from, 0 - static_cast<std::uint64_t>(rows), log, layout);
    const Place highest = highest_place(log, layout);
    const Place place = older(wanted, highest) ? highest : wanted;
    if (place.line == log.added_count() - 1 && place.hidden == 0) {
        lowest_shown.reset();
        return;
    }
    if (!lowest_shown) {
        added_when_left = log.added_count();
    }
    lowest_shown = place;
}

LogPage ScrollBack::page(const ChatLog& log, const LogLayout& layout) const {
    LogPage shown;
    shown.rows = layout.rows;
    if (!lowest_shown || log.history().size() == 0) {
        return shown;
    }
    const Place place = current(log, layout);
    const std::uint64_t newest = log.added_count() - 1;
    shown.lines_below = static_cast<std::size_t>(newest - place.line);
    shown.rows_hidden = place.hidden;
    shown.rows_below = place.hidden;
    for (std::uint64_t line = place.line + 1; line <= newest; ++line) {
        shown.rows_below += rows_of(log, layout, line);
    }
    shown.new_lines = log.added_count() - added_when_left;
    return shown;
}

}  // namespace tw
