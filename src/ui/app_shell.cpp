#include "ui/app_shell.h"

#include <cmath>
#include <string>
#include <utility>

#include "ui/console_view.h"
#include "ui/key_input.h"

namespace tw {

int frame_wait_ms(std::optional<float> seconds_until_due) {
    if (!seconds_until_due || !std::isfinite(*seconds_until_due)) {
        return MAX_FRAME_WAIT_MS;
    }
    const float due = *seconds_until_due;
    if (due <= 0.0F) {
        return 0;
    }
    const double milliseconds = std::ceil(static_cast<double>(due) * 1000.0);
    if (milliseconds >= MAX_FRAME_WAIT_MS) {
        return MAX_FRAME_WAIT_MS;
    }
    return static_cast<int>(milliseconds);
}

AppShell::AppShell(WindowSystem& window_system, AppObjects& app_objects)
    : window(window_system), objects(app_objects), app(app_objects) {
    if (window.serves_during_connect()) {
        objects.net_node.endpoint.while_connecting([this] { return connect_turn(); });
    }
}

AppShell::~AppShell() {
    objects.net_node.endpoint.while_connecting(nullptr);
}

int AppShell::run() {
    for (;;) {
        run_frame();
        const int timeout = frame_wait_ms(objects.net_node.seconds_until_due());
        window.wait(objects.net_node.endpoint.handle(), timeout);
        while (const auto event = window.next_event()) {
            if (!handle_event(*event) || !replay_deferred()) {
                shut_down();
                return 0;
            }
        }
    }
}

bool AppShell::connect_turn() {
    if (leaving) {
        return false;
    }
    // No socket to watch: the node's new one is not connected yet.
    window.wait(-1, CONNECT_TURN_MS);
    while (const auto event = window.next_event()) {
        if (!take_during_connect(*event)) {
            leaving = true;
            return false;
        }
    }
    run_frame();
    return true;
}

bool AppShell::take_during_connect(const WindowEvent& event) {
    view_changed = true;
    if (const auto* key = std::get_if<KeyEvent>(&event)) {
        const MenuOutcome outcome = !window.wants_menu_strip()
                                        ? MenuOutcome{}
                                        : menu_strip.on_key(key->vk, key->down, key->alt);
        if (outcome.command) {
            return run_command(*outcome.command);
        }
        if (outcome.consumed) {
            return true;
        }
    } else if (const auto* click = std::get_if<ClickEvent>(&event)) {
        return handle_click(*click);
    } else if (std::holds_alternative<CloseEvent>(event)) {
        return false;
    }
    if (deferred.size() < MAX_DEFERRED_EVENTS) {
        deferred.push_back(event);
    }
    return true;
}

bool AppShell::replay_deferred() {
    // A replayed Enter may start another connect, which keeps adding to the back.
    while (!deferred.empty() && !leaving) {
        const WindowEvent event = std::move(deferred.front());
        deferred.pop_front();
        if (const auto* key = std::get_if<KeyEvent>(&event)) {
            press(*key);
        } else if (const auto* text = std::get_if<TextEvent>(&event)) {
            type(text->text);
        }
    }
    return !leaving;
}

void AppShell::run_frame() {
    FrameTimer& timer = objects.frame_timer;
    if (!timer.is_running()) {
        timer.start();
    }
    timer.tick();
    app.frame_step(timer.frame_time());

    // Most frames only serve the network; the picture is made and copied only when what
    // it shows changed or the window lost it, so a flood of datagrams that change nothing
    // costs the display nothing.
    const bool exposed = window.needs_redraw();
    if (!view_changed && !exposed && objects.chat_log.added_count() == drawn_log_lines) {
        return;
    }
    draw_picture();
}

void AppShell::draw_picture() {
    const ConsoleRows rows = console_rows(objects.input_line, objects.chat_log);
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
            type(text->text);
        }
        return !leaving;
    }
    return false;
}

void AppShell::press(const KeyEvent& key) {
    on_key(key.vk, key.down, key.shift, objects.input_line,
           [this](std::string line) { app.execute_line(std::move(line)); });
}

void AppShell::type(const std::string& text) {
    type_text(text, objects.input_line,
              [this](std::string line) { app.execute_line(std::move(line)); });
}

bool AppShell::handle_key(const KeyEvent& key) {
    const MenuOutcome outcome =
        !window.wants_menu_strip() ? MenuOutcome{} : menu_strip.on_key(key.vk, key.down, key.alt);
    if (outcome.command) {
        return run_command(*outcome.command);
    }
    if (!outcome.consumed) {
        press(key);
    }
    return !leaving;
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
