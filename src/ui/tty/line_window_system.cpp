#include "ui/tty/line_window_system.h"

#include <utility>

#include "ui/console_view.h"
#include "ui/tty/terminal_mode.h"

namespace tw {

LineWindowSystem::LineWindowSystem(ChatLog& log, std::function<bool()> coming_in,
                                   ColourMode colours, TextEncoding encoding,
                                   bool input_is_terminal)
    : chat_log(log), on_the_way_in(std::move(coming_in)), closes_at_end(input_is_terminal) {
    // One write per line, so that every line reaches a pipe (| tee) as soon as it exists.
    chat_log.set_listener([colours, encoding](const LogLine& line) {
        write_output(printed_line(line, colours, encoding));
    });
}

bool LineWindowSystem::input_held() {
    return on_the_way_in();
}

LineWindowSystem::~LineWindowSystem() {
    release();
}

void LineWindowSystem::release() {
    chat_log.set_listener(nullptr);
}

std::string LineWindowSystem::printed_line(const LogLine& line, ColourMode colours,
                                           TextEncoding encoding) {
    std::string printed = terminal_text(line_text(line), encoding);
    if (colours != ColourMode::none) {
        printed = foreground_sequence(line_colour(line.style), colours) + printed + "\x1b[0m";
    }
    printed += '\n';
    return printed;
}

void LineWindowSystem::decode(std::string_view bytes, std::vector<WindowEvent>& events) {
    lines.feed(bytes, events);
}

void LineWindowSystem::end_of_input(std::vector<WindowEvent>& events) {
    lines.finish(events);
    if (closes_at_end) {
        events.emplace_back(CloseEvent{});
    }
}

}  // namespace tw
