#include <algorithm>

#include "chat/chat_app.h"

namespace tw {

// The way into a server's room and back: a typed connect, the client's own attempts after
// a loss, and what every frame makes of them. Nothing here waits: the connect runs on its
// thread, and each timer is looked at by the frame that its due time brings.

void ChatApp::start_attempt() {
    ClientSession& session = app.session;
    // A new connection is a new session: the old server's record would take the new
    // session's ids for duplicates and drop them. The fresh socket also gives a new port,
    // which a server that still holds the old session takes for a new login.
    app.net_node.clear_peers();
    app.net_node.endpoint.open_socket(false);
    if (!app.net_node.endpoint.start_connect(session.host.c_str(), app.port)) {
        attempt_failed("Could not Connect");
        return;
    }
    session.phase = SessionPhase::connecting;
    session.phase_left = static_cast<float>(CONNECT_TIMEOUT_MS) / 1000.0F;
    session.step_interval = CONNECT_LOOK_FIRST_SECONDS;
    session.next_step = session.step_interval;
}

void ChatApp::watch_session(float elapsed) {
    switch (app.session.phase) {
        case SessionPhase::connecting:
            watch_connect(elapsed);
            break;
        case SessionPhase::logging_in:
            watch_login(elapsed);
            break;
        case SessionPhase::lost:
            watch_lost(elapsed);
            break;
        case SessionPhase::in:
            // The server said goodbye or went silent: either way its peer is gone.
            if (app.net_node.peers.empty()) {
                lose_server();
            }
            break;
        case SessionPhase::none:
            break;
    }
}

void ChatApp::watch_connect(float elapsed) {
    ClientSession& session = app.session;
    switch (app.net_node.endpoint.connect_progress()) {
        case ConnectProgress::connected:
            log_in();
            return;
        case ConnectProgress::failed:
        case ConnectProgress::none:
            attempt_failed("Could not Connect");
            return;
        case ConnectProgress::pending:
            break;
    }
    session.phase_left -= elapsed;
    if (session.phase_left <= 0.0F) {
        app.net_node.endpoint.forget_connect();
        attempt_failed("Could not Connect");
        return;
    }
    session.next_step -= elapsed;
    if (session.next_step <= 0.0F) {
        session.step_interval = std::min(session.step_interval * 2.0F, CONNECT_LOOK_MAX_SECONDS);
        session.next_step = session.step_interval;
    }
}

void ChatApp::log_in() {
    ClientSession& session = app.session;
    if (!session.retrying) {
        say("Connected.");
    }
    app.net_node.send_login(app.nick);
    if (!session.retrying) {
        say("Logging in.");
    }
    session.phase = SessionPhase::logging_in;
    session.heard = false;
    session.phase_left = LOGIN_ANSWER_SECONDS;
    session.next_step = LOGIN_RESEND_SECONDS;
}

void ChatApp::watch_login(float elapsed) {
    ClientSession& session = app.session;
    session.phase_left -= elapsed;
    if (session.phase_left < 0.0F) {
        // UDP gives no error for a server that is down or a firewall that drops the
        // datagrams: the silence is all there is to report.
        attempt_failed("No answer from " + session.host + ": is UDP port " +
                       std::to_string(app.port) + " open?");
        return;
    }
    if (session.heard) {
        return;
    }
    session.next_step -= elapsed;
    if (session.next_step <= 0.0F) {
        // A server that got the first login acknowledged it and never sees this one.
        app.net_node.send_login(app.nick);
        session.next_step = LOGIN_RESEND_SECONDS;
    }
}

void ChatApp::attempt_failed(const std::string& notice) {
    ClientSession& session = app.session;
    if (!session.retrying) {
        say(notice);
        session.phase = SessionPhase::none;
        return;
    }
    session.phase = SessionPhase::lost;
    session.phase_left = session.retry_interval;
    session.retry_interval = std::min(session.retry_interval * 2.0F, RECONNECT_MAX_SECONDS);
}

void ChatApp::lose_server() {
    ClientSession& session = app.session;
    say("Not connected: logging in again");
    session.retrying = true;
    session.retry_interval = RECONNECT_FIRST_SECONDS;
    attempt_failed({});
}

void ChatApp::watch_lost(float elapsed) {
    ClientSession& session = app.session;
    session.phase_left -= elapsed;
    if (session.phase_left <= 0.0F) {
        start_attempt();
    }
}

}  // namespace tw
