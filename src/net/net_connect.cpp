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
    peer_table.clear();
    socket_endpoint.open_socket(false);
    if (!socket_endpoint.start_connect(session.host.c_str(), session.port)) {
        attempt_failed(SessionEvent::What::connect_failed, at);
        return;
    }
    phase::Connecting connecting;
    if (at != NEXT_FRAME) {
        connecting.gives_up_at = at + CONNECT_TIMEOUT;
        connecting.look_at = at + connecting.look_interval;
    }
    session.enter(connecting);
}

void NetNode::watch_session() {
    session.stamp(now);
    if (auto* connecting = std::get_if<phase::Connecting>(&session.now_in)) {
        watch_connect(*connecting);
    } else if (auto* logging_in = std::get_if<phase::LoggingIn>(&session.now_in)) {
        watch_login(*logging_in);
    } else if (const auto* lost = std::get_if<phase::Lost>(&session.now_in)) {
        if (now >= lost->attempt_at) {
            start_attempt(now);
        }
    }
}

void NetNode::watch_connect(phase::Connecting& connecting) {
    switch (socket_endpoint.connect_progress()) {
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
    if (now >= connecting.gives_up_at) {
        socket_endpoint.forget_connect();
        attempt_failed(SessionEvent::What::connect_failed, now);
        return;
    }
    if (now >= connecting.look_at) {
        connecting.look_interval = std::min(connecting.look_interval * 2, CONNECT_LOOK_MAX);
        connecting.look_at = now + connecting.look_interval;
    }
}

void NetNode::log_in() {
    if (!session.retrying) {
        report(SessionEvent{SessionEvent::What::connected, own_name, session.host});
    }
    send_login(own_name);
    session.enter(phase::LoggingIn{now + LOGIN_ANSWER_WAIT, now + LOGIN_RESEND, false});
}

void NetNode::watch_login(phase::LoggingIn& logging_in) {
    if (now > logging_in.answer_bound) {
        if (logging_in.refused && !session.retrying) {
            // The user was told why at once; no place came free since.
            session.enter(phase::None{});
            return;
        }
        // UDP gives no error for a server that is down or a firewall that drops the
        // datagrams: the silence is all there is to report.
        attempt_failed(SessionEvent::What::no_answer, now);
        return;
    }
    if (logging_in.heard) {
        return;
    }
    if (now >= logging_in.login_again_at) {
        // A server that got the first login acknowledged it and never sees this one.
        send_login(own_name);
        logging_in.login_again_at = now + LOGIN_RESEND;
    }
}

void NetNode::note_refusal(std::string reason) {
    auto* logging_in = std::get_if<phase::LoggingIn>(&session.now_in);
    if (logging_in == nullptr || logging_in->refused) {
        return;
    }
    // Anyone could have sent it, so the login goes on until its time is up: it only
    // tells the user more than "no answer" would.
    logging_in->refused = true;
    report(SessionEvent{SessionEvent::What::refused, std::move(reason), session.host});
}

void NetNode::attempt_failed(SessionEvent::What why, SessionTime at) {
    if (!session.retrying) {
        report(SessionEvent{why, {}, session.host});
        session.enter(phase::None{});
        return;
    }
    // Anywhere from three quarters to five quarters of the interval.
    const SessionTime interval = session.retry_interval;
    std::uniform_int_distribution<SessionTime::rep> spread(0, (interval / 2).count());
    const SessionTime wait = interval - interval / 4 + SessionTime{spread(reconnect_draws)};
    session.enter(phase::Lost{wait, at == NEXT_FRAME ? NEXT_FRAME : at + wait});
    session.retry_interval = std::min(session.retry_interval * 2, RECONNECT_MAX);
}

void NetNode::report(SessionEvent event) {
    const SessionEvent::What what = event.what;
    pending_events.push_back(std::move(event));
    if (what == SessionEvent::What::heard) {
        if (auto* logging_in = std::get_if<phase::LoggingIn>(&session.now_in)) {
            logging_in->heard = true;
        }
    } else if (what == SessionEvent::What::accepted) {
        // Also an answer that came after "no answer": the socket still leads to it.
        session.enter(phase::In{});
        session.retrying = false;
    } else if (what == SessionEvent::What::lost && session.phase() == SessionPhase::in) {
        if (session.host.empty()) {
            // A session that no connect asked for has no server to go back to.
            session.enter(phase::None{});
            return;
        }
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
