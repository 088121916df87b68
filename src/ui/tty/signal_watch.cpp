#include "ui/tty/signal_watch.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

#include "ui/tty/terminal_mode.h"

namespace tw {

namespace {

std::array<int, 2> wake_pipe{-1, -1};
volatile std::sig_atomic_t close_asked = 0;
volatile std::sig_atomic_t resize_asked = 0;
volatile std::sig_atomic_t resume_asked = 0;

constexpr std::array CLOSE_SIGNALS{SIGINT, SIGTERM, SIGHUP};
// The crash handler runs once and may re-raise its own signal from inside.
constexpr int RUN_ONCE = static_cast<int>(SA_RESETHAND | SA_NODEFER);
constexpr std::array CRASH_SIGNALS{SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGQUIT, SIGTRAP};

void wake() {
    const int saved_errno = errno;
    const char byte = 0;
    // A full pipe already holds a wake-up; losing this one loses nothing.
    [[maybe_unused]] const ssize_t ignored = write(wake_pipe[1], &byte, 1);
    errno = saved_errno;
}

void on_close_signal(int) {
    close_asked = 1;
    wake();
}

void on_resize_signal(int) {
    resize_asked = 1;
    wake();
}

void on_stop_signal(int) {
    const int saved_errno = errno;
    suspend_screen_mode();
    raise(SIGSTOP);
    errno = saved_errno;
}

void on_continue_signal(int) {
    const int saved_errno = errno;
    resume_screen_mode();
    errno = saved_errno;
    resume_asked = 1;
    wake();
}

void on_crash_signal(int signal_number) {
    leave_screen_mode();
    // The handler was installed to run once: the re-raised signal takes its default
    // course, a core dump or the end of the process.
    raise(signal_number);
}

bool catch_signal(int signal_number, void (*handler)(int), int flags) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    return sigaction(signal_number, &action, nullptr) == 0;
}

bool make_pipe() {
    if (pipe(wake_pipe.data()) != 0) {
        return false;
    }
    for (const int end : wake_pipe) {
        if (fcntl(end, F_SETFL, O_NONBLOCK) != 0 || fcntl(end, F_SETFD, FD_CLOEXEC) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool SignalWatch::install() {
    if (wake_pipe[0] < 0 && !make_pipe()) {
        return false;
    }
    bool caught = true;
    for (const int signal_number : CLOSE_SIGNALS) {
        caught = catch_signal(signal_number, on_close_signal, SA_RESTART) && caught;
    }
    caught = catch_signal(SIGWINCH, on_resize_signal, SA_RESTART) && caught;
    caught = catch_signal(SIGTSTP, on_stop_signal, SA_RESTART) && caught;
    caught = catch_signal(SIGCONT, on_continue_signal, SA_RESTART) && caught;
    for (const int signal_number : CRASH_SIGNALS) {
        caught = catch_signal(signal_number, on_crash_signal, RUN_ONCE) && caught;
    }
    // A reader of the output that went away must not end a server: writes then fail.
    caught = catch_signal(SIGPIPE, SIG_IGN, 0) && caught;
    return caught;
}

int SignalWatch::wake_descriptor() {
    return wake_pipe[0];
}

bool SignalWatch::has_news() {
    return close_asked != 0 || resize_asked != 0 || resume_asked != 0;
}

SignalNews SignalWatch::take() {
    std::array<char, 64> drained{};
    // Bounded: the pipe's read end is non-blocking and the loop stops when it is empty.
    for (int round = 0; round < 64; ++round) {
        if (read(wake_pipe[0], drained.data(), drained.size()) <= 0) {
            break;
        }
    }
    SignalNews news;
    news.close = close_asked != 0;
    news.resize = resize_asked != 0;
    news.resumed = resume_asked != 0;
    resize_asked = 0;
    resume_asked = 0;
    return news;
}

}  // namespace tw
