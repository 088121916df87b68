#pragma once

#include <optional>
#include <string>

#include "chat/chat_log.h"
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
// A server on the LAN answers a login within a frame or two; after this long the user is
// told that none came (the answer is still taken if it comes later).
inline constexpr float LOGIN_ANSWER_SECONDS = 10.0F;

// A login sent and not answered yet: to whom, and for how long.
struct PendingLogin {
    std::string host;
    float waited = 0.0F;
};

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
    std::optional<PendingLogin> pending_login;
};

// The chat application: typed lines, and what every frame makes of the network.
// It keeps no state of its own.
class ChatApp {
  public:
    explicit ChatApp(AppObjects& objects) : app(objects) {}

    void execute_line(std::string line);
    void frame_step(float elapsed);
    void handle_messages();
    // A login has been sent and its answer has neither come nor been given up on.
    bool login_pending() const;

  private:
    void connect(const std::string& line);
    void nick(const std::string& line);
    void serve();
    void chat(const std::string& line);
    void show(const Delivery& delivery);
    void show(const SessionEvent& event);
    void watch_login(float elapsed);

    AppObjects& app;
};

}  // namespace tw
