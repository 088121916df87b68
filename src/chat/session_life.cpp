#include <algorithm>

#include "chat/chat_app.h"

namespace tw {

// The way into a server's room and back: a typed connect, the client's own attempts after
// a loss, and what every frame makes of them. Nothing here waits: the connect runs on its
// thread, and each time is looked at by the frame that its reading brings.

void ChatApp::start_attempt(SessionTime now) {
    ClientSession& session = app.session;
    // A new connection is a new session: the old server's record would take the new
    // session's ids for duplicates and drop them. The fresh socket also gives a new port,
    // which a server that still holds the old session takes for a new login.
    app.net_node.clear_peers();
    app.net_node.endpoint.open_socket(false);
    if (!app.net_node.endpoint.start_connect(session.host.c_str(), app.port)) {
        attempt_failed("Could not Connect", now);
        return;
    }
    session.begin(SessionPhase::connecting, now, std::chrono::milliseconds(CONNECT_TIMEOUT_MS),
                  CONNECT_LOOK_FIRST);
}

void ChatApp::watch_session(SessionTime now) {
    app.session.stamp(now);
    switch (app.session.phase) {
        case SessionPhase::connecting:
            watch_connect(now);
            break;
        case SessionPhase::logging_in:
            watch_login(now);
            break;
        case SessionPhase::lost:
            watch_lost(now);
            break;
        case SessionPhase::in:
        case SessionPhase::none:
            break;
    }
}

void ChatApp::watch_connect(SessionTime now) {
    ClientSession& session = app.session;
    switch (app.net_node.endpoint.connect_progress()) {
        case ConnectProgress::connected:
            log_in(now);
            return;
        case ConnectProgress::failed:
        case ConnectProgress::none:
            attempt_failed("Could not Connect", now);
            return;
        case ConnectProgress::pending:
            break;
    }
    if (now >= session.phase_ends_at()) {
        app.net_node.endpoint.forget_connect();
        attempt_failed("Could not Connect", now);
        return;
    }
    if (now >= session.next_step_at) {
        session.step_interval = std::min(session.step_interval * 2, CONNECT_LOOK_MAX);
        session.next_step_at = now + session.step_interval;
    }
}

void ChatApp::log_in(SessionTime now) {
    ClientSession& session = app.session;
    if (!session.retrying) {
        say("Connected.");
    }
    app.net_node.send_login(app.nick);
    if (!session.retrying) {
        say("Logging in.");
    }
    session.begin(SessionPhase::logging_in, now, LOGIN_ANSWER_WAIT, LOGIN_RESEND);
    session.heard = false;
}

void ChatApp::watch_login(SessionTime now) {
    ClientSession& session = app.session;
    if (now > session.phase_ends_at()) {
        // UDP gives no error for a server that is down or a firewall that drops the
        // datagrams: the silence is all there is to report.
        attempt_failed("No answer from " + session.host + ": is UDP port " +
                           std::to_string(app.port) + " open?",
                       now);
        return;
    }
    if (session.heard) {
        return;
    }
    if (now >= session.next_step_at) {
        // A server that got the first login acknowledged it and never sees this one.
        app.net_node.send_login(app.nick);
        session.next_step_at = now + LOGIN_RESEND;
    }
}

void ChatApp::attempt_failed(const std::string& notice, SessionTime now) {
    ClientSession& session = app.session;
    if (!session.retrying) {
        say(notice);
        session.phase = SessionPhase::none;
        return;
    }
    // Anywhere from three quarters to five quarters of the interval.
    const SessionTime interval = session.retry_interval;
    std::uniform_int_distribution<SessionTime::rep> spread(0, (interval / 2).count());
    const SessionTime wait = interval - interval / 4 + SessionTime{spread(app.reconnect_draws)};
    session.begin(SessionPhase::lost, now, wait, SessionTime{0});
    session.retry_interval = std::min(session.retry_interval * 2, RECONNECT_MAX);
}

void ChatApp::lose_server(SessionTime now) {
    ClientSession& session = app.session;
    say("Not connected: logging in again");
    session.retrying = true;
    session.retry_interval = RECONNECT_FIRST;
    attempt_failed({}, now);
}

void ChatApp::watch_lost(SessionTime now) {
    if (now >= app.session.phase_ends_at()) {
        start_attempt(now);
    }
}

}  // namespace tw
