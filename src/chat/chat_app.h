#pragma once

#include <optional>
#include <random>
#include <string>

#include "chat/chat_log.h"
#include "chat/client_session.h"
#include "net/net_node.h"
#include "transport/frame_timer.h"

namespace tw {

inline constexpr int CHAT_PORT = 1210;
inline constexpr int CONNECT_TIMEOUT_MS = 30000;
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
    ClientSession session;
    // The reading of the frame under way, or of the last one.
    SessionTime now{0};
    // The last "serve" could not bind its port.
    bool serve_failed = false;
    // Draws that spread the attempts after a loss; tests may seed it.
    std::minstd_rand reconnect_draws{std::random_device{}()};
};

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
    void show(const Delivery& delivery);
    void show(const SessionEvent& event);
    void follow(const SessionEvent& event);
    void send_unacknowledged_lines();
    void take_events();
    void say(const std::string& notice);

    // The way into a session and back (session_life.cpp). NEXT_FRAME for `now` when a
    // typed command starts it between frames.
    void start_attempt(SessionTime now);
    void watch_session(SessionTime now);
    void watch_connect(SessionTime now);
    void watch_login(SessionTime now);
    void watch_lost(SessionTime now);
    void log_in(SessionTime now);
    void attempt_failed(const std::string& notice, SessionTime now);
    void lose_server(SessionTime now);

    AppObjects& app;
};

}  // namespace tw
