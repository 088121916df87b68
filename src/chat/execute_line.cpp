#include <string_view>

#include "chat/chat_app.h"

namespace tw {

namespace {

bool starts_with(const std::string& line, std::string_view word) {
    return line.compare(0, word.size(), word) == 0;
}

// The host is the last word, so "connect to somehost" works as well as "connect somehost".
std::string after_last_blank(const std::string& line) {
    const auto blank = line.rfind(' ');
    return blank == std::string::npos ? line : line.substr(blank + 1);
}

// A name may hold blanks: everything after the first one.
std::string after_first_blank(const std::string& line) {
    const auto blank = line.find(' ');
    return blank == std::string::npos ? line : line.substr(blank + 1);
}

// A relayed line has room for RELAY_LINE_MAX characters. Longer lines go as several
// pieces, broken after the last blank that fits (the blank stays with the first piece)
// or hard at the limit when a word is longer than that.
std::vector<std::string> split_chat_line(std::string_view line) {
    std::vector<std::string> pieces;
    while (line.size() > RELAY_LINE_MAX) {
        const auto blank = line.substr(0, RELAY_LINE_MAX).rfind(' ');
        const std::size_t cut = blank == std::string_view::npos ? RELAY_LINE_MAX : blank + 1;
        pieces.emplace_back(line.substr(0, cut));
        line.remove_prefix(cut);
    }
    if (!line.empty()) {
        pieces.emplace_back(line);
    }
    return pieces;
}

// What a failed bind means to the user of "serve".
std::string bind_failure_text(BindFailure failure, int port) {
    const std::string udp_port = "UDP port " + std::to_string(port);
    switch (failure) {
        case BindFailure::in_use:
            return udp_port + " is in use";
        case BindFailure::not_permitted:
            return "no permission for " + udp_port;
        case BindFailure::no_such_address:
            return "this host has no such address";
        case BindFailure::other:
            break;
    }
    return udp_port + " could not be bound";
}

}  // namespace

void ChatApp::execute_line(std::string line) {
    bool done = true;
    if (starts_with(line, "connect")) {
        connect(line);
    } else if (starts_with(line, "nick")) {
        nick(line);
    } else if (starts_with(line, "serve")) {
        serve();
    } else {
        done = chat(line);
    }
    // A line that could not go stays where it was typed, to be sent once it can.
    if (done) {
        app.input_line.clear();
    }
}

void ChatApp::connect(const std::string& line) {
    if (app.nick.empty()) {
        say("choose name first: 'nick myname'");
        return;
    }
    const std::string host = after_last_blank(line);
    say("Connecting to: " + host);
    app.net_node.connect_to(host, app.port);
    // A host that cannot even be looked up is said at once.
    take_events();
}

void ChatApp::nick(const std::string& line) {
    const std::string name = after_first_blank(line);
    if (name.empty()) {
        return;
    }
    // Every relay of this user's lines carries the name in a slot of RELAY_NAME_MAX
    // characters; a longer name would reach the others cut.
    if (name.size() > RELAY_NAME_MAX) {
        app.chat_log.add_line("Nick too long: 13 characters at most", LineStyle::notice);
        return;
    }
    app.nick = name;
    app.chat_log.add_line("Nick changed to " + app.nick, LineStyle::notice);
    app.net_node.change_name(app.nick);
}

void ChatApp::serve() {
    if (app.net_node.is_server()) {
        say("Server Already Started");
        return;
    }
    // Another program on the port would get the clients this one says it serves; a
    // client that cannot serve stays in its session.
    const auto failure = app.net_node.serve(app.port);
    app.serve_failed = failure.has_value();
    if (failure) {
        say("Could not serve: " + bind_failure_text(*failure, app.port));
        return;
    }
    say("Server Started");
}

std::optional<std::string> ChatApp::why_not_sent() const {
    if (in_room(app)) {
        return std::nullopt;
    }
    // Short enough for the window's width: the line itself is still in view above.
    if (app.net_node.client_session().retrying) {
        return std::string("Not sent: logging in again");
    }
    if (on_the_way_in(app)) {
        return std::string("Not sent: still logging in");
    }
    return std::string("Not sent: not connected");
}

bool ChatApp::chat(const std::string& line) {
    if (line.empty()) {
        return true;
    }
    if (const auto reason = why_not_sent()) {
        say(*reason);
        return false;
    }
    // Refused whole rather than sent in part: a line is never cut short without a word.
    if (line.size() > MAX_CHAT_LINE) {
        say("Line too long: " + std::to_string(MAX_CHAT_LINE) + " characters at most");
        return true;
    }
    const std::vector<std::string> pieces = split_chat_line(line);
    if (pieces.size() > app.net_node.reliable_room()) {
        say("Line not sent: " + std::to_string(QUEUE_LIMIT) +
            " messages at most may wait for acknowledgement");
        return true;
    }
    for (const std::string& piece : pieces) {
        app.chat_log.add_line(" <" + app.net_node.name() + "> " + piece, LineStyle::own_chat);
        app.net_node.broadcast_chat(piece, true);
    }
    return true;
}

}  // namespace tw
