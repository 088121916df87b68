#include "ui/tty/tty_window_system.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "ui/tty/terminal_mode.h"

namespace tw {

namespace {

// When the terminal cannot tell its size, the classic one.
constexpr int FALLBACK_ROWS = 24;
constexpr int FALLBACK_COLUMNS = 80;

}  // namespace

TtyWindowSystem::~TtyWindowSystem() {
    release();
}

bool TtyWindowSystem::open() {
    if (!enter_screen_mode()) {
        failure_text = std::string{"cannot set up the terminal: "} + std::strerror(errno);
        return false;
    }
    resized();
    return true;
}

void TtyWindowSystem::resized() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
        grid.resize(size.ws_row, size.ws_col);
    } else {
        grid.resize(FALLBACK_ROWS, FALLBACK_COLUMNS);
    }
    redraw = true;
}

std::size_t TtyWindowSystem::log_rows() const {
    return static_cast<std::size_t>(std::max(grid.rows() - 2, 1));
}

bool TtyWindowSystem::needs_redraw() {
    return std::exchange(redraw, false);
}

void TtyWindowSystem::resumed() {
    // The screen was the shell's meanwhile, and the terminal may have another size.
    resized();
}

TextSurface& TtyWindowSystem::begin_frame() {
    grid.clear();
    return nothing;
}

bool TtyWindowSystem::puts_rows(const ConsoleRows& rows) {
    grid.put_rows(rows);
    return true;
}

void TtyWindowSystem::ask_attention() {
    // Once while the user is away: the first line tells them, the rest would only nag.
    if (!keys.terminal_focused() && !rang) {
        rang = true;
        write_output("\a");
    }
}

void TtyWindowSystem::end_frame() {
    write_output(grid.render());
}

void TtyWindowSystem::release() {
    leave_screen_mode();
}

void TtyWindowSystem::decode(std::string_view bytes, std::vector<WindowEvent>& events) {
    keys.feed(bytes, events);
    if (keys.terminal_focused()) {
        rang = false;
    }
}

void TtyWindowSystem::end_of_input(std::vector<WindowEvent>& events) {
    // A terminal reads as ended only when it has hung up: nobody is left to type.
    events.emplace_back(CloseEvent{});
}

}  // namespace tw
