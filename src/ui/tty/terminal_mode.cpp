#include "ui/tty/terminal_mode.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string_view>

namespace tw {

namespace {

// Alternate screen, cursor hidden, no automatic wrap at the right margin: the program
// breaks long rows itself, and a terminal's own wrap would move every row under them.
// Terminals that can are asked to report the focus, so that the bell rings only for a
// user away, and to mark pastes, so that a pasted line break is not Enter.
constexpr std::string_view ENTER_SEQUENCE = "\x1b[?1049h\x1b[?25l\x1b[?7l\x1b[?1004h\x1b[?2004h";
constexpr std::string_view LEAVE_SEQUENCE =
    "\x1b[?2004l\x1b[?1004l\x1b[0m\x1b[?7h\x1b[?25h\x1b[?1049l";

termios saved_settings{};
bool settings_saved = false;
volatile std::sig_atomic_t mode_on = 0;
volatile std::sig_atomic_t suspended = 0;

void leave_at_exit() {
    leave_screen_mode();
}

}  // namespace

void write_output(std::string_view bytes) {
    // Bounded: each round writes something or gives up; an interrupted write is retried
    // only a few times, so a terminal that went away never holds the loop.
    for (int interrupted = 0; !bytes.empty() && interrupted < 8;) {
        const ssize_t written = write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
        } else if (written < 0 && errno == EINTR) {
            ++interrupted;
        } else {
            return;
        }
    }
}

bool enter_screen_mode() {
    if (!settings_saved) {
        if (tcgetattr(STDIN_FILENO, &saved_settings) != 0) {
            return false;
        }
        settings_saved = true;
        std::atexit(leave_at_exit);
    }
    termios raw = saved_settings;
    // Every byte as it is typed, Ctrl+C and Ctrl+D included, and no echo. Output
    // processing stays on, so that a diagnostic on stderr still starts its lines on the left.
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSADRAIN, &raw) != 0) {
        return false;
    }
    mode_on = 1;
    write_output(ENTER_SEQUENCE);
    return true;
}

void suspend_screen_mode() {
    if (mode_on != 0) {
        leave_screen_mode();
        suspended = 1;
    }
}

void resume_screen_mode() {
    // Only a suspended mode comes back: after the program has left it, a continue signal
    // must not take the terminal again.
    if (suspended != 0) {
        suspended = 0;
        enter_screen_mode();
    }
}

void leave_screen_mode() {
    if (mode_on == 0) {
        return;
    }
    mode_on = 0;
    write_output(LEAVE_SEQUENCE);
    tcsetattr(STDIN_FILENO, TCSADRAIN, &saved_settings);
}

}  // namespace tw
