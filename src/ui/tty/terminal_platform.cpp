#include "ui/tty/terminal_platform.h"

#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "ui/tty/signal_watch.h"

namespace tw {

namespace {

// One read per frame: a long paste is typed over a few frames instead of holding the
// loop, and the network keeps its turn.
constexpr std::size_t READ_CHUNK = 4096;

}  // namespace

std::optional<WindowEvent> TerminalPlatform::next_event() {
    if (SignalWatch::has_news()) {
        const SignalNews news = SignalWatch::take();
        if (news.close) {
            return CloseEvent{};
        }
        if (news.resumed) {
            resumed();
        }
        if (news.resize) {
            resized();
        }
    }
    if (input_held()) {
        return std::nullopt;
    }
    if (pending.empty() && input_ready) {
        input_ready = false;
        read_input();
    }
    if (pending.empty()) {
        return std::nullopt;
    }
    WindowEvent event = pending.front();
    pending.pop_front();
    return event;
}

void TerminalPlatform::read_input() {
    std::array<char, READ_CHUNK> buffer{};
    const ssize_t count = read(STDIN_FILENO, buffer.data(), buffer.size());
    std::vector<WindowEvent> events;
    if (count > 0) {
        decode(std::string_view{buffer.data(), static_cast<std::size_t>(count)}, events);
    } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
        input_open = false;
        end_of_input(events);
    }
    pending.insert(pending.end(), events.begin(), events.end());
}

void TerminalPlatform::wait(std::intptr_t socket, int timeout_ms) {
    const bool held = input_held();
    if (SignalWatch::has_news() || (!held && (!pending.empty() || input_ready))) {
        return;
    }
    std::array<pollfd, 3> watched{};
    watched[0].fd = SignalWatch::wake_descriptor();
    watched[0].events = POLLIN;
    // Descriptors are small numbers; the wider handle type only serves other platforms.
    watched[1].fd = socket >= 0 ? static_cast<int>(socket) : -1;
    watched[1].events = POLLIN;
    // A closed stdin would poll as ready for ever, so it is left out after its end.
    watched[2].fd = input_open && !held ? STDIN_FILENO : -1;
    watched[2].events = POLLIN;
    // An interrupted or failed poll simply ends the wait early: the next frame looks.
    if (poll(watched.data(), watched.size(), timeout_ms) > 0) {
        input_ready =
            input_ready || (watched[2].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
    }
}

}  // namespace tw
