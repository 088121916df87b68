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
}

std::optional<float> ChatApp::seconds_until_due() const {
    const std::optional<SessionTime> wait = app.net_node.time_until_due(app.now);
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
        if (!app.net_node.receive(app.now)) {
            break;
        }
        take_events();
    }
}

void ChatApp::take_events() {
    for (const SessionEvent& event : app.net_node.events()) {
        show(event);
    }
    app.net_node.clear_events();
}

void ChatApp::say(const std::string& notice) {
    app.chat_log.add_line(notice, LineStyle::notice);
}

bool in_room(const AppObjects& objects) {
    // A server is always in its own room, with or without clients.
    return objects.net_node.is_server() ||
           objects.net_node.client_session().phase() == SessionPhase::in;
}

bool on_the_way_in(const AppObjects& objects) {
    return objects.net_node.client_session().on_the_way_in();
}

const std::string& session_host(const AppObjects& objects) {
    static const std::string none;
    const ClientSession& session = objects.net_node.client_session();
    return session.phase() == SessionPhase::none ? none : session.host;
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
        case SessionEvent::What::message:
            show_message(event);
            break;
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
            log.add_line("Not connected: logging in again", LineStyle::notice);
            break;
        case SessionEvent::What::connected:
            log.add_line("Connected.", LineStyle::notice);
            log.add_line("Logging in.", LineStyle::notice);
            break;
        case SessionEvent::What::connect_failed:
            log.add_line("Could not Connect", LineStyle::notice);
            break;
        case SessionEvent::What::no_answer:
            log.add_line("No answer from " + event.address_text + ": is UDP port " +
                             std::to_string(app.port) + " open?",
                         LineStyle::notice);
            break;
        case SessionEvent::What::refused:
            // The server's own words, as it gave them for this login.
            log.add_line(event.name, LineStyle::notice);
            break;
        case SessionEvent::What::resent:
            log.add_line("Sent again: " + std::to_string(event.count) + " unacknowledged" +
                             (event.count == 1 ? " line" : " lines"),
                         LineStyle::notice);
            break;
        case SessionEvent::What::renamed:
            log.add_line(event.earlier_name + " changed nick to " + event.name, LineStyle::notice);
            break;
        // Nothing the user waits to read: the line was echoed as it was typed, and the
        // kept lines are told of when they go again.
        case SessionEvent::What::heard:
        case SessionEvent::What::delivered:
        case SessionEvent::What::kept:
            break;
    }
}

void ChatApp::show_message(const SessionEvent& delivered) {
    const NetMessage& message = delivered.message;
    const Peer* sender = delivered.peer ? app.net_node.peer(*delivered.peer) : nullptr;
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
