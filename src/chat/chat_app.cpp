#include "chat/chat_app.h"

namespace tw {

void ChatApp::frame_step(float elapsed) {
    handle_messages();
    watch_login(elapsed);
    app.net_node.maintain(elapsed);
}

void ChatApp::watch_login(float elapsed) {
    auto& pending = app.pending_login;
    if (!pending) {
        return;
    }
    // The server's answer is what gives a client its one peer.
    if (!app.net_node.peers.empty()) {
        pending.reset();
        return;
    }
    pending->waited += elapsed;
    if (pending->waited > LOGIN_ANSWER_SECONDS) {
        // UDP gives no error for a server that is down or a firewall that drops the
        // datagrams: the silence is all there is to report.
        app.chat_log.add_line("No answer from " + pending->host + ": is UDP port " +
                                  std::to_string(app.port) + " open?",
                              LineStyle::notice);
        pending.reset();
    }
}

void ChatApp::handle_messages() {
    // Bounded, so that a flood of any kind still leaves time for the session's timers
    // and the drawing; what is left waits in the socket for the next frame.
    for (std::size_t taken = 0; taken < RECEIVE_BUDGET; ++taken) {
        const Reception reception = app.net_node.receive();
        if (!reception.taken) {
            break;
        }
        if (reception.outcome.event) {
            show(*reception.outcome.event);
        }
        if (reception.outcome.delivery) {
            show(*reception.outcome.delivery);
        }
    }
    auto& notices = app.net_node.notices;
    while (!notices.empty()) {
        app.chat_log.add_line(notices.back(), LineStyle::notice);
        notices.pop_back();
    }
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

bool ChatApp::login_pending() const {
    return app.pending_login.has_value();
}

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
        default:
            break;
    }
}

}  // namespace tw
