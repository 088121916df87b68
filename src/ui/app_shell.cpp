#include "ui/app_shell.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

#include "ui/console_view.h"
#include "ui/key_input.h"
#include "ui/virtual_key.h"
#include "ui/window_title.h"

namespace tw {

int frame_wait_ms(std::optional<float> seconds_until_due) {
    if (!seconds_until_due || std::isnan(*seconds_until_due)) {
        return WAIT_FOREVER;
    }
    const double due = static_cast<double>(*seconds_until_due);
    if (due <= 0.0) {
        return 0;
    }
    // Far deadlines (a day and more) wait in steps; the frame that ends one finds the
    // deadline still ahead and waits again.
    constexpr double LONGEST_STEP_MS = 86'400'000.0;
    return static_cast<int>(std::min(std::ceil(due * 1000.0), LONGEST_STEP_MS));
}

std::string line_full_notice() {
    return "Line full: " + grouped_number(LINE_ROOM) + " characters at most";
}

// Lines read whole from a pipe are not typed into a prompt: one longer than a chat line
// reaches the interpreter whole, which refuses it with a word.
AppShell::AppShell(WindowSystem& window_system, AppObjects& app_objects)
    : window(window_system),
      objects(app_objects),
      app(app_objects),
      editor(window_system.enters_whole_lines() ? std::string::npos : LINE_ROOM) {}

AppShell::~AppShell() = default;

int AppShell::run() {
    for (;;) {
        run_frame();
        if (objects.serve_failed && window.ends_when_serve_fails()) {
            shut_down();
            return 1;
        }
        // Datagrams the endpoint took in a batch and has not handed on yet are no longer
        // readable on the socket: with any of them left, the next frame comes at once.
        const SocketEndpoint& endpoint = objects.net_node.endpoint();
        window.wait(endpoint.handle(),
                    endpoint.holds_received() ? 0 : frame_wait_ms(app.seconds_until_due()));
        while (const auto event = window.next_event()) {
            if (!handle_event(*event)) {
                shut_down();
                return 0;
            }
        }
    }
}

void AppShell::run_frame() {
    FrameTimer& timer = objects.frame_timer;
    if (!timer.is_running()) {
        timer.start();
    }
    timer.tick();
    app.frame_step(timer.now());
    send_pasted();
    heed_arrivals();
    show_title();

    // Most frames only serve the network; the picture is made and copied only when what
    // it shows changed or the window lost it, so a flood of datagrams that change nothing
    // costs the display nothing.
    const bool exposed = window.needs_redraw();
    if (!view_changed && !exposed && objects.chat_log.added_count() == drawn_log_lines) {
        return;
    }
    draw_picture();
}

void AppShell::heed_arrivals() {
    const ChatLog& log = objects.chat_log;
    const ChatHistory& history = log.history();
    const auto fresh = static_cast<std::size_t>(
        std::min<std::uint64_t>(log.added_count() - heard_log_lines, history.size()));
    heard_log_lines = log.added_count();
    // The echo of the user's own line is the one line that needs nobody's attention.
    for (std::size_t position = history.size() - fresh; position < history.size(); ++position) {
        if (history.line(position).style != LineStyle::own_chat) {
            window.ask_attention();
            return;
        }
    }
}

void AppShell::show_title() {
    std::string title = window_title(objects);
    if (title != shown_title) {
        window.set_title(title);
        shown_title = std::move(title);
    }
}

void AppShell::draw_picture() {
    const ChatLog& log = objects.chat_log;
    const ConsoleRows rows =
        console_rows(objects.input_line, log, scroll_back.page(log, history_layout()),
                     editor.cursor(objects.input_line));
    TextSurface& surface = window.begin_frame();
    const int width = window.client_width();
    // A terminal puts rows on its rows; a window of pixels gets them laid out here.
    const bool in_cells = window.puts_rows(rows);
    if (!in_cells && window.wants_menu_strip()) {
        OffsetSurface console{surface, 0, MENU_STRIP_HEIGHT};
        draw_console(console, width, rows);
        menu_strip.draw(surface, width);
    } else if (!in_cells) {
        draw_console(surface, width, rows);
    }
    window.end_frame();
    view_changed = false;
    drawn_log_lines = objects.chat_log.added_count();
}

bool AppShell::handle_event(const WindowEvent& event) {
    // Keys and clicks edit the prompt or the menu strip.
    view_changed = true;
    if (const auto* key = std::get_if<KeyEvent>(&event)) {
        return handle_key(*key);
    }
    if (const auto* click = std::get_if<ClickEvent>(&event)) {
        return handle_click(*click);
    }
    if (const auto* text = std::get_if<TextEvent>(&event)) {
        if (!menu_strip.is_open()) {
            type(*text);
        }
        return true;
    }
    if (const auto* notice = std::get_if<NoticeEvent>(&event)) {
        objects.chat_log.add_line(notice->text, LineStyle::notice);
        return true;
    }
    if (const auto* wheel = std::get_if<WheelEvent>(&event)) {
        scroll_back.scroll(static_cast<std::int64_t>(wheel->notches) * WHEEL_ROWS, objects.chat_log,
                           history_layout());
        return true;
    }
    return false;
}

void AppShell::press(const KeyEvent& key) {
    // What the key typed comes as text of its own.
    if (key.typed || answer_paste(key)) {
        return;
    }
    const bool edited =
        editor.key(key, objects.input_line, [this](std::string line) { enter(std::move(line)); });
    if (edited && key.down) {
        scroll_back.to_newest();
        tell_if_full(key_character(key.vk, key.shift).has_value() && !key.ctrl);
    }
    if (key.down && key.vk == vk::enter && window.enters_whole_lines()) {
        objects.input_line.clear();
    }
}

bool AppShell::answer_paste(const KeyEvent& key) {
    const bool escape = key.down && key.vk == vk::escape && !key.ctrl;
    if (!pasted.asking()) {
        // Lines still waiting for room to be sent in can be let go as well.
        if (pasted.sending() && escape) {
            objects.chat_log.add_line(pasted.drop(), LineStyle::notice);
            return true;
        }
        return false;
    }
    if (key.down && key.vk == vk::enter && !key.ctrl) {
        scroll_back.to_newest();
        pasted.accept();
        send_pasted();
    } else if (escape) {
        objects.chat_log.add_line(pasted.drop(), LineStyle::notice);
    }
    // The prompt waits while the question is open, so that no key meant for it is lost
    // in a line of the paste.
    return true;
}

void AppShell::send_pasted() {
    const std::string asked_again =
        pasted.send_more([this](const std::string& line) { return send_pasted_line(line); });
    if (!asked_again.empty()) {
        objects.chat_log.add_line(asked_again, LineStyle::notice);
    }
}

PastedLines::Outcome AppShell::send_pasted_line(const std::string& line) {
    // Every piece of a line may wait for acknowledgement; one that would not find room
    // waits for the acknowledgements of the lines before it. A piece is at least half a
    // relay's room unless it ends the line, and the first may be one blank. Outside a
    // session the interpreter refuses the line instead, and the lines are asked about again.
    const std::size_t most_pieces = 2 * (line.size() / RELAY_LINE_MAX + 1);
    if (in_room(objects) && objects.net_node.reliable_room() < most_pieces) {
        return PastedLines::Outcome::no_room;
    }
    // The interpreter reads and empties the prompt: what the user is typing waits aside.
    std::string typing = std::exchange(objects.input_line, line);
    app.execute_line(line);
    const bool kept = !objects.input_line.empty();
    objects.input_line = std::move(typing);
    return kept ? PastedLines::Outcome::refused : PastedLines::Outcome::sent;
}

void AppShell::enter(std::string line) {
    told_left_out = false;
    told_full = false;
    app.execute_line(std::move(line));
}

void AppShell::type(const TextEvent& text) {
    scroll_back.to_newest();
    if (text.left_out > 0 && !told_left_out) {
        told_left_out = true;
        objects.chat_log.add_line(LEFT_OUT_NOTICE, LineStyle::notice);
    }
    // A paste of several lines, or of one longer than the prompt has room for, is asked
    // about; a line and a typed character go in at the cursor, also while pasted lines
    // still wait for room to be sent in.
    const std::size_t room = LINE_ROOM - std::min(LINE_ROOM, objects.input_line.size());
    const bool lines_of_its_own =
        text.text.find('\n') != std::string::npos || text.text.size() > room;
    if (pasted.asking() || (lines_of_its_own && pasted.sending())) {
        // Once for each question: a key held down must not fill the log.
        if (!told_busy) {
            told_busy = true;
            objects.chat_log.add_line(PASTE_BUSY_NOTICE, LineStyle::notice);
        }
        return;
    }
    if (lines_of_its_own) {
        std::vector<std::string> lines = paste_lines(text.text, LINE_ROOM);
        if (lines.size() > 1) {
            told_busy = false;
            objects.chat_log.add_line(pasted.hold(std::move(lines)), LineStyle::notice);
            return;
        }
    }
    const std::size_t inserted = editor.insert(text.text, objects.input_line);
    tell_if_full(inserted < text.text.size());
}

void AppShell::tell_if_full(bool more_came) {
    if (more_came && objects.input_line.size() >= editor.room() && !told_full) {
        told_full = true;
        objects.chat_log.add_line(line_full_notice(), LineStyle::notice);
    }
}

bool AppShell::handle_key(const KeyEvent& key) {
    const MenuOutcome outcome =
        !window.wants_menu_strip() ? MenuOutcome{} : menu_strip.on_key(key.vk, key.down, key.alt);
    if (outcome.command) {
        return run_command(*outcome.command);
    }
    if (!outcome.consumed && !page(key)) {
        press(key);
    }
    return true;
}

bool AppShell::page(const KeyEvent& key) {
    if (key.vk != vk::page_up && key.vk != vk::page_down) {
        return false;
    }
    if (key.down) {
        // A page keeps its last row on the screen, so the reader does not lose the thread.
        const LogLayout layout = history_layout();
        const auto rows = static_cast<std::int64_t>(std::max<std::size_t>(layout.rows, 2) - 1);
        scroll_back.scroll(key.vk == vk::page_up ? rows : -rows, objects.chat_log, layout);
    }
    return true;
}

LogLayout AppShell::history_layout() {
    return log_layout(window.row_measure(), window.row_room(), window.log_rows());
}

bool AppShell::handle_click(const ClickEvent& click) {
    const MenuOutcome outcome = menu_strip.on_click(click.x, click.y);
    if (outcome.command) {
        return run_command(*outcome.command);
    }
    return true;
}

bool AppShell::run_command(int command) {
    return command != COMMAND_EXIT;
}

void AppShell::shut_down() {
    // The goodbye goes first: some window systems take seconds to let a window go.
    net_shutdown(objects.net_node);
    window.release();
}

}  // namespace tw
