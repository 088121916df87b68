#include "net/net_node.h"

#include <algorithm>
#include <random>

namespace tw {

std::int32_t unpredictable_id() {
    static std::random_device source;
    return static_cast<std::int32_t>(source());
}

std::optional<std::size_t> NetNode::find_peer(const SocketAddress& address) const {
    return peer_table.find(address);
}

const Peer* NetNode::peer(PeerHandle handle) const {
    const auto position = peer_table.position_of(handle);
    return position ? &peer_table[*position] : nullptr;
}

std::size_t NetNode::reliable_room() const {
    std::size_t room = QUEUE_LIMIT;
    for (const Peer& peer : peer_table) {
        const std::size_t used = peer.channel.reliable_queue.size() + peer.held_count();
        room = std::min(room, used < QUEUE_LIMIT ? QUEUE_LIMIT - used : 0);
    }
    return room;
}

void NetNode::broadcast_chat(std::string_view text, bool reliable) {
    if (text.empty()) {
        return;
    }
    queue_to_each(reliable, std::nullopt, [&](NetMessage& message) {
        message.kind = KIND_CHAT;
        set_text(message, text);
    });
}

void NetNode::change_name(std::string_view new_name) {
    if (new_name.empty()) {
        return;
    }
    queue_to_each(true, std::nullopt, [&](NetMessage& message) {
        message.kind = KIND_NICK_CHANGE;
        set_text(message, new_name);
    });
    own_name = std::string(new_name);
}

void NetNode::broadcast_logout() {
    // Sent, not held, to logins not yet confirmed: they were answered, so they may
    // already count this node as their server.
    for (Peer& peer : peer_table) {
        NetMessage& message = peer.channel.queue_message(false);
        message.kind = KIND_LOGOUT;
        set_text(message, own_name);
    }
}

void NetNode::announce_timeout(std::size_t timed_out) {
    const std::string departed = peer_table[timed_out].name;
    queue_to_each(true, timed_out, [&](NetMessage& message) {
        message.kind = KIND_PEER_TIMED_OUT;
        set_text(message, departed);
    });
}

void NetNode::send_ping(Peer& peer) {
    NetMessage& ping = peer.channel.queue_message(false);
    ping.kind = KIND_PING;
    ping.length = 1;
    put_f32(ping.text, ping_clock());
}

float NetNode::ping_clock_at(SessionTime at) const {
    return to_seconds((at - first_reading.value_or(at)) % PING_CLOCK_WRAP);
}

void NetNode::set_now(SessionTime reading) {
    if (!first_reading) {
        first_reading = reading;
    }
    now = reading;
}

void NetNode::send_login(std::string_view login_name) {
    if (login_name.empty()) {
        return;
    }
    NetMessage login;
    login.id = 0;
    login.reliable = 1;
    login.kind = KIND_LOGIN;
    set_text(login, login_name);
    transmit(login.encode());
}

void NetNode::flush_outbox(Peer& peer) {
    for (const NetMessage& message : peer.channel.outbox) {
        if (serving) {
            socket_endpoint.set_destination(peer.address);
        }
        // A failed send is covered by the next resend copy (reliable) or is lost like
        // any datagram (acks, pings, pongs, logouts).
        transmit_later(message.encode());
    }
    peer.channel.outbox.clear();
}

bool NetNode::transmit(const WireRecord& record) {
    ++counts.sent;
    if (transmitter) {
        const std::optional<SocketAddress> to = socket_endpoint.use_destination != 0
                                                    ? std::optional(socket_endpoint.destination)
                                                    : std::nullopt;
        return transmitter(record, to);
    }
    return socket_endpoint.send_raw(record);
}

void NetNode::transmit_later(const WireRecord& record) {
    if (transmitter) {
        transmit(record);
        return;
    }
    ++counts.sent;
    socket_endpoint.send_later(record);
}

std::optional<SessionTime> NetNode::time_until_due(SessionTime reading) const {
    if (!unattached.empty()) {
        return SessionTime{0};
    }
    // A step begun between passes (NEXT_FRAME) is due at once.
    SessionTime soonest = session.due_at();
    for (const Peer& peer : peer_table) {
        soonest = std::min(soonest, peer.due(reading).nearest());
    }
    if (peer_table.empty() && soonest == NEVER) {
        return std::nullopt;
    }
    return soonest <= reading ? SessionTime{0} : soonest - reading;
}

std::optional<BindFailure> NetNode::serve(int port) {
    if (!socket_endpoint.open_standby(port)) {
        return socket_endpoint.bind_failure().value_or(BindFailure::other);
    }
    broadcast_logout();
    for (Peer& peer : peer_table) {
        flush_outbox(peer);
    }
    // The old socket sends the goodbye it keeps as it closes.
    socket_endpoint.switch_to_standby();
    peer_table.clear();
    kept_lines.clear();
    // A server has no server of its own to reach.
    session = ClientSession{};
    serving = true;
    return std::nullopt;
}

std::optional<SocketAddress> NetNode::bind(std::uint32_t local_ip, int port) {
    socket_endpoint.set_local_ip(local_ip);
    socket_endpoint.open_socket(false);
    if (!socket_endpoint.bind_port(port)) {
        return std::nullopt;
    }
    return socket_endpoint.local_address();
}

void net_startup(NetNode& node) {
    // Without networking the program still runs; every later socket call just fails.
    static_cast<void>(startup_socket_library());
    node.socket_endpoint.open_socket(false);
}

void net_shutdown(NetNode& node) {
    node.broadcast_logout();
    // At the last pass's reading: no timer moves, only what waits is sent.
    node.maintain(node.last_reading());
    node.socket_endpoint.close_socket();
    cleanup_socket_library();
}

}  // namespace tw
