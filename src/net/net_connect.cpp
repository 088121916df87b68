#include <algorithm>

#include "net/net_node.h"

namespace tw {

// The way into a server's room and back: a connect asked for, the client's own attempts
// after a loss, and what every pass makes of them. Nothing here waits: the connect runs
// on its thread, and each time is looked at by the pass that its reading brings.

void NetNode::connect_to(std::string host, int port) {
    // Whatever was under way, asked for or the client's own, gives way to this host;
    // lines meant for another room are not sent to this one.
    session = ClientSession{};
    session.host = std::move(host);
    session.port = port;
    kept_lines.clear();
    start_attempt(NEXT_FRAME);
}

void NetNode::start_attempt(SessionTime at) {
    // A new connection is a new session: the old server's record would take the new
    // session's ids for duplicates and drop them. The fresh socket also gives a new port,
    // which a server that still holds the old session takes for a new login.
    clear_peers();
    endpoint.open_socket(false);
    if (!endpoint.start_connect(session.host.c_str(), session.port)) {
        attempt_failed(SessionEvent::What::connect_failed, at);
        return;
    }
    session.begin(SessionPhase::connecting, at, CONNECT_TIMEOUT, CONNECT_LOOK_FIRST);
}

void NetNode::watch_session() {
    session.stamp(now);
    switch (session.phase) {
        case SessionPhase::connecting:
            watch_connect();
            break;
        case SessionPhase::logging_in:
            watch_login();
            break;
        case SessionPhase::lost:
            if (now >= session.phase_ends_at()) {
                start_attempt(now);
            }
            break;
        case SessionPhase::in:
        case SessionPhase::none:
            break;
    }
}

void NetNode::watch_connect() {
    switch (endpoint.connect_progress()) {
        case ConnectProgress::connected:
            log_in();
            return;
        case ConnectProgress::failed:
        case ConnectProgress::none:
            attempt_failed(SessionEvent::What::connect_failed, now);
            return;
        case ConnectProgress::pending:
            break;
    }
    if (now >= session.phase_ends_at()) {
        endpoint.forget_connect();
        attempt_failed(SessionEvent::What::connect_failed, now);
        return;
    }
    if (now >= session.next_step_at) {
        session.step_interval = std::min(session.step_interval * 2, CONNECT_LOOK_MAX);
        session.next_step_at = now + session.step_interval;
    }
}

void NetNode::log_in() {
    if (!session.retrying) {
        report(SessionEvent{SessionEvent::What::connected, own_name, session.host});
    }
    send_login(own_name);
    session.begin(SessionPhase::logging_in, now, LOGIN_ANSWER_WAIT, LOGIN_RESEND);
    session.heard = false;
}

void NetNode::watch_login() {
    if (now > session.phase_ends_at()) {
        // UDP gives no error for a server that is down or a firewall that drops the
        // datagrams: the silence is all there is to report.
        attempt_failed(SessionEvent::What::no_answer, now);
        return;
    }
    if (session.heard) {
        return;
    }
    if (now >= session.next_step_at) {
        // A server that got the first login acknowledged it and never sees this one.
        send_login(own_name);
        session.next_step_at = now + LOGIN_RESEND;
    }
}

void NetNode::attempt_failed(SessionEvent::What why, SessionTime at) {
    if (!session.retrying) {
        report(SessionEvent{why, {}, session.host});
        session.phase = SessionPhase::none;
        return;
    }
    // Anywhere from three quarters to five quarters of the interval.
    const SessionTime interval = session.retry_interval;
    std::uniform_int_distribution<SessionTime::rep> spread(0, (interval / 2).count());
    const SessionTime wait = interval - interval / 4 + SessionTime{spread(reconnect_draws)};
    session.begin(SessionPhase::lost, at, wait, SessionTime{0});
    session.retry_interval = std::min(session.retry_interval * 2, RECONNECT_MAX);
}

void NetNode::report(SessionEvent event) {
    const SessionEvent::What what = event.what;
    pending_events.push_back(std::move(event));
    if (what == SessionEvent::What::heard) {
        session.heard = true;
    } else if (what == SessionEvent::What::accepted) {
        // Also an answer that came after "no answer": the socket still leads to it.
        session.phase = SessionPhase::in;
        session.retrying = false;
    } else if (what == SessionEvent::What::lost && session.phase == SessionPhase::in) {
        session.retrying = true;
        session.retry_interval = RECONNECT_FIRST;
        attempt_failed(what, now);
    }
}

void NetNode::send_unacknowledged_lines() {
    // Lines the lost server never acknowledged go to the room it came back with, once
    // the client is in it: queued before, they would go to no peer and be lost. One that
    // reached the old server without its ack coming back may be shown twice, but none is
    // lost.
    if (kept_lines.empty()) {
        return;
    }
    SessionEvent resent{SessionEvent::What::resent, {}, session.host};
    resent.count = kept_lines.size();
    pending_events.push_back(std::move(resent));
    for (const std::string& line : kept_lines) {
        broadcast_chat(line, true);
    }
    kept_lines.clear();
}

}  // namespace tw
