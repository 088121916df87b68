#include "bench_server.h"
#include "node_access.h"

namespace tw::bench {

SocketAddress simulated_host(std::size_t index) {
    // 127.1.x.y: one loopback address per host, the port the same for all of them.
    const auto high = static_cast<std::uint8_t>((index / 250) & 0xFFU);
    const auto low = static_cast<std::uint8_t>(index % 250 + 1);
    return SocketAddress{ipv4(127, 1, high, low), 40000};
}

void admit_peers(NetNode& server, std::size_t peers) {
    server.change_name("server");
    server.set_transmitter(
        [](std::span<const std::uint8_t>, std::optional<SocketAddress>) { return true; });
    for (std::size_t i = 0; i < peers; ++i) {
        NetMessage login;
        login.reliable = 1;
        login.kind = KIND_LOGIN;
        set_text(login, "user" + std::to_string(i));
        server.dispatch(login.encode(), simulated_host(i), SessionTime{0});
        // The client's acknowledgement of the answer, which completes the login.
        NetMessage ack;
        ack.kind = KIND_ACK;
        ack.length = 1;
        put_i32(ack.text, server.peers().back().pending->answer);
        server.dispatch(ack.encode(), simulated_host(i), SessionTime{0});
        // Each login announces itself to every earlier peer; dropping those at once keeps
        // the set-up linear in memory for a full table.
        clear_queues(server);
    }
}

void clear_queues(NetNode& node) {
    for (Peer& peer : test::NodeAccess::peers(node)) {
        peer.channel.reliable_queue.clear();
        peer.channel.outbox.clear();
    }
    // As the application takes them every frame; the list keeps its room.
    node.clear_events();
}

WireRecord chat_record(std::int32_t id, const std::string& line) {
    NetMessage chat;
    chat.id = id;
    chat.reliable = 1;
    chat.kind = KIND_CHAT;
    set_text(chat, line);
    return chat.encode();
}

}  // namespace tw::bench
