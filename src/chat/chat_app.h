#pragma once

#include <optional>
#include <string>

#include "chat/chat_log.h"
#include "net/net_node.h"
#include "transport/frame_timer.h"

namespace tw {

inline constexpr int CHAT_PORT = 1210;
// Datagrams one frame takes from the socket at most.
inline constexpr std::size_t RECEIVE_BUDGET = 256;
// The longest chat line sent: in pieces of a relay's room, even a line of short and long
// words alternating fits many times into what a peer may leave unacknowledged.
inline constexpr std::size_t MAX_CHAT_LINE = 32768;
// The process-wide objects, built in this order and destroyed in reverse. One object
// owns them so that a test can run several participants in one process.
struct AppObjects {
    FrameTimer frame_timer;
    std::string input_line;
    ChatLog chat_log;
    NetNode net_node;
    std::string nick;
    // The port that "serve" binds and "connect" reaches; only tests choose another.
    int port = CHAT_PORT;
    // The reading of the frame under way, or of the last one.
    SessionTime now{0};
    // The last "serve" could not bind its port.
    bool serve_failed = false;
};

// What the window shows of the session: lines typed now reach a room (the node serves, or
// its client is in), the client is on its way in, and the host it is in or on its way to
// (empty when none).
bool in_room(const AppObjects& objects);
bool on_the_way_in(const AppObjects& objects);
const std::string& session_host(const AppObjects& objects);

// The chat application: typed lines, and what every frame makes of the network.
// It keeps no state of its own.
class ChatApp {
  public:
    explicit ChatApp(AppObjects& objects) : app(objects) {}

    void execute_line(std::string line);
    // One frame at `now`, a reading of the monotonic clock.
    void frame_step(SessionTime now);
    void handle_messages();
    // Seconds until the next frame has something to do, for the session layer or for the
    // way into a session; nothing when only an event from outside can bring work.
    std::optional<float> seconds_until_due() const;

  private:
    void connect(const std::string& line);
    void nick(const std::string& line);
    void serve();
    // False when the line was not sent, and so stays in the input line.
    bool chat(const std::string& line);
    std::optional<std::string> why_not_sent() const;
    void show(const SessionEvent& event);
    void show_message(const SessionEvent& delivered);
    void take_events();
    void say(const std::string& notice);

    AppObjects& app;
};

}  // namespace tw
