#include "ui/tty/line_window_system.h"

#include "ui/console_view.h"
#include "ui/tty/terminal_mode.h"

namespace tw {

namespace {

// The notice the command interpreter leaves once "connect" has sent the login.
constexpr std::string_view LOGIN_SENT_NOTICE = "Logging in.";

}  // namespace

LineWindowSystem::LineWindowSystem(ChatLog& log, const NetNode& node, ColourMode colours,
                                   TextEncoding encoding, bool input_is_terminal)
    : chat_log(log), net_node(node), closes_at_end(input_is_terminal) {
    // One write per line, so that every line reaches a pipe (| tee) as soon as it exists.
    chat_log.set_listener([this, colours, encoding](const LogLine& line) {
        write_output(printed_line(line, colours, encoding));
        if (line.style == LineStyle::notice && line.text == LOGIN_SENT_NOTICE) {
            hold_until = std::chrono::steady_clock::now() + LOGIN_HOLD;
        }
    });
}

bool LineWindowSystem::input_held() {
    if (hold_until && net_node.peers.empty() && std::chrono::steady_clock::now() < *hold_until) {
        return true;
    }
    hold_until.reset();
    return false;
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
