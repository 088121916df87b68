#include "chat/chat_app.h"

#include <algorithm>
#include <cmath>

namespace tw {

void ChatApp::frame_step(SessionTime now) {
    app.now = now;
    handle_messages();
    app.net_node.maintain(now);
    // A time-out found by this pass is shown now: the next frame may be a long sleep away.
    take_events();
    watch_session(now);
}

std::optional<float> ChatApp::seconds_until_due() const {
    const SessionTime session_due = app.session.due_at();
    std::optional<SessionTime> wait;
    if (session_due != SessionTime::max()) {
        wait = session_due <= app.now ? SessionTime{0} : session_due - app.now;
    }
    if (const auto node = app.net_node.time_until_due(app.now)) {
        wait = wait ? std::min(*wait, *node) : *node;
    }
    if (!wait) {
        return std::nullopt;
    }
    // Rounded up, never down: a wait that ends before its time only makes a frame that
    // finds nothing to do.
    const float seconds = to_seconds(*wait);
    return seconds > 0.0F ? std::nextafter(seconds, INFINITY) : 0.0F;
}

void ChatApp::handle_messages() {
    // Bounded, so that a flood of any kind still leaves time for the session's timers
    // and the drawing; what is left waits in the socket for the next frame.
    for (std::size_t taken = 0; taken < RECEIVE_BUDGET; ++taken) {
        const Reception reception = app.net_node.receive(app.now);
        if (!reception.taken) {
            break;
        }
        take_events();
        if (reception.outcome.delivery) {
            show(*reception.outcome.delivery);
        }
    }
}

void ChatApp::take_events() {
    // Taken whole before any is followed: following one may start a new attempt, whose
    // events come after these.
    std::vector<SessionEvent> events;
    events.swap(app.net_node.events);
    for (const SessionEvent& event : events) {
        show(event);
        follow(event);
    }
}

void ChatApp::say(const std::string& notice) {
    app.chat_log.add_line(notice, LineStyle::notice);
}

void ChatApp::follow(const SessionEvent& event) {
    ClientSession& session = app.session;
    if (event.what == SessionEvent::What::heard) {
        session.heard = true;
    } else if (event.what == SessionEvent::What::accepted) {
        // Also an answer that came after "No answer": the socket still leads to it.
        session.phase = SessionPhase::in;
        session.retrying = false;
        send_unacknowledged_lines();
    } else if (event.what == SessionEvent::What::lost && session.phase == SessionPhase::in) {
        lose_server(app.now);
    }
}

void ChatApp::send_unacknowledged_lines() {
    // Lines the lost server never acknowledged go to the room it came back with, once
    // the client is in it: queued before, they would go to no peer and be lost. One that
    // reached the old server without its ack coming back may be shown twice, but none is
    // lost.
    std::vector<std::string>& lines = app.net_node.unacknowledged_lines;
    if (lines.empty()) {
        return;
    }
    say("Sent again: " + std::to_string(lines.size()) + " unacknowledged" +
        (lines.size() == 1 ? " line" : " lines"));
    for (const std::string& line : lines) {
        app.net_node.broadcast_chat(line, true);
    }
    lines.clear();
}

namespace {

// "<name> line", built by appending: GCC 12 at -O2 reports a false overlap (-Wrestrict)
// for "<" + std::string.
std::string chat_line(const std::string& name, const std::string& line) {
    std::string text{"<"};
    text += name;
    text += "> ";
    text += line;
    return text;
}

}  // namespace

void ChatApp::show(const SessionEvent& event) {
    // A peer without a name is named by its address, so that no arrival or departure
    // goes unshown.
    const std::string& who = event.name.empty() ? event.address_text : event.name;
    ChatLog& log = app.chat_log;
    switch (event.what) {
        case SessionEvent::What::joined:
            if (event.replaced_earlier) {
                log.add_line(who + " Logged Out", LineStyle::notice);
            }
            log.add_line(who + " Logged In", LineStyle::notice);
            break;
        case SessionEvent::What::accepted:
            log.add_line("Login Accepted by " + who, LineStyle::notice);
            break;
        case SessionEvent::What::left:
            log.add_line(who + " Logged Out", LineStyle::notice);
            break;
        case SessionEvent::What::timed_out:
            log.add_line(who + " Timed Out", LineStyle::notice);
            break;
        case SessionEvent::What::lost:
            // A goodbye was shown as the server's logout.
            if (event.silent) {
                log.add_line("Disconnected: Session Timed Out", LineStyle::notice);
            }
            break;
        case SessionEvent::What::renamed:
            log.add_line(event.earlier_name + " changed nick to " + event.name, LineStyle::notice);
            break;
        case SessionEvent::What::heard:
            break;
    }
}

void ChatApp::show(const Delivery& delivery) {
    const NetMessage& message = delivery.message;
    const Peer* sender = delivery.peer ? &app.net_node.peers[*delivery.peer] : nullptr;
    ChatLog& log = app.chat_log;
    switch (message.kind) {
        case KIND_CHAT:
            log.add_line(chat_line(sender ? sender->name : std::string(), read_text(message)),
                         LineStyle::peer_chat);
            break;
        case KIND_CHAT_RELAY:
            log.add_line(chat_line(read_text_at(message.text, 0),
                                   read_text_at(message.text, RELAY_LINE_OFFSET)),
                         LineStyle::peer_chat);
            break;
        // A server's logins are shown once confirmed, as session events; one that reaches
        // a client is shown as it comes.
        case KIND_LOGIN:
        case KIND_PEER_LOGGED_IN:
            log.add_line(read_text(message) + " Logged In", LineStyle::notice);
            break;
        case KIND_PEER_LOGGED_OUT:
            log.add_line(read_text(message) + " Logged Out", LineStyle::notice);
            break;
        case KIND_PEER_TIMED_OUT:
            log.add_line(read_text(message) + " Timed Out", LineStyle::notice);
            break;
        // The server's own words for a change of name, shown as they come.
        case KIND_NICK_NOTICE:
            say(read_text(message));
            break;
        default:
            break;
    }
}

}  // namespace tw
