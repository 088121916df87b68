#include "ui/pasted_lines.h"

#include <utility>

namespace tw {

namespace {

constexpr std::size_t DIGITS_PER_GROUP = 3;

}  // namespace

std::string grouped_number(std::uint64_t number) {
    std::string digits = std::to_string(number);
    for (std::size_t end = digits.size(); end > DIGITS_PER_GROUP; end -= DIGITS_PER_GROUP) {
        digits.insert(end - DIGITS_PER_GROUP, 1, ',');
    }
    return digits;
}

std::vector<std::string> paste_lines(std::string_view text, std::size_t line_room) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t line_end = text.find('\n');
        std::string_view line = text.substr(0, line_end);
        text.remove_prefix(line_end == std::string_view::npos ? text.size() : line_end + 1);
        while (line.size() > line_room) {
            const std::size_t blank = line.substr(1, line_room - 1).rfind(' ');
            const std::size_t cut = blank == std::string_view::npos ? line_room : blank + 1;
            lines.emplace_back(line.substr(0, cut));
            line.remove_prefix(cut);
        }
        lines.emplace_back(line);
    }
    return lines;
}

std::string PastedLines::hold(std::vector<std::string> held) {
    lines.assign(std::make_move_iterator(held.begin()), std::make_move_iterator(held.end()));
    accepted = false;
    return "Paste " + grouped_number(lines.size()) + (lines.size() == 1 ? " line" : " lines") +
           "? Enter sends them, Escape drops them";
}

std::string PastedLines::drop() {
    const std::size_t dropped = lines.size();
    lines.clear();
    accepted = false;
    return "Dropped " + grouped_number(dropped) + (dropped == 1 ? " pasted line" : " pasted lines");
}

std::string PastedLines::send_more(const Sender& send) {
    while (sending()) {
        const Outcome outcome = send(lines.front());
        if (outcome == Outcome::no_room) {
            return {};
        }
        if (outcome == Outcome::refused) {
            std::vector<std::string> left(lines.begin(), lines.end());
            return hold(std::move(left));
        }
        lines.pop_front();
    }
    return {};
}

}  // namespace tw
