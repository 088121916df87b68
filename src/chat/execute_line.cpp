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

}  // namespace

void ChatApp::execute_line(std::string line) {
    if (starts_with(line, "connect")) {
        connect(line);
    } else if (starts_with(line, "nick")) {
        nick(line);
    } else if (starts_with(line, "serve")) {
        serve();
    } else {
        chat(line);
    }
    app.input_line.clear();
}

void ChatApp::connect(const std::string& line) {
    if (app.nick.empty()) {
        app.chat_log.add_line("choose name first: 'nick myname'", LineStyle::notice);
        return;
    }
    const std::string host = after_last_blank(line);
    app.chat_log.add_line("Connecting to: " + host, LineStyle::notice);
    // A new connection is a new session: the old server's record would take the new
    // session's ids for duplicates and drop them.
    app.net_node.clear_peers();
    app.net_node.endpoint.open_socket(false);
    if (app.net_node.endpoint.connect_with_timeout(host.c_str(), app.port, CONNECT_TIMEOUT_MS)) {
        app.chat_log.add_line("Connected.", LineStyle::notice);
        app.net_node.send_login(app.nick);
        app.chat_log.add_line("Logging in.", LineStyle::notice);
        app.pending_login = PendingLogin{host};
    } else {
        app.pending_login.reset();
        app.chat_log.add_line("Could not Connect", LineStyle::notice);
    }
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
    if (app.net_node.is_server) {
        app.chat_log.add_line("Server Already Started", LineStyle::notice);
        return;
    }
    // A failed bind is not fatal: the node still answers whoever reaches it.
    static_cast<void>(app.net_node.endpoint.bind_port(app.port));
    app.net_node.is_server = true;
    app.chat_log.add_line("Server Started", LineStyle::notice);
}

void ChatApp::chat(const std::string& line) {
    // Refused whole rather than sent in part: a line is never cut short without a word.
    if (line.size() > MAX_CHAT_LINE) {
        app.chat_log.add_line(
            "Line too long: " + std::to_string(MAX_CHAT_LINE) + " characters at most",
            LineStyle::notice);
        return;
    }
    const std::vector<std::string> pieces = split_chat_line(line);
    if (pieces.size() > app.net_node.reliable_room()) {
        app.chat_log.add_line("Line not sent: " + std::to_string(QUEUE_LIMIT) +
                                  " messages at most may wait for acknowledgement",
                              LineStyle::notice);
        return;
    }
    for (const std::string& piece : pieces) {
        app.chat_log.add_line(" <" + app.net_node.name + "> " + piece, LineStyle::own_chat);
        app.net_node.broadcast_chat(piece, true);
    }
}

}  // namespace tw
