#include <algorithm>
#include <utility>

#include "net/net_node.h"

namespace tw {

namespace {

bool admits_unknown_sender(std::int32_t kind) {
    return kind == KIND_LOGIN || kind == KIND_LOGIN_ACCEPTED;
}

}  // namespace

std::optional<Delivery> NetNode::receive() {
    const auto datagram = endpoint.receive_from(receive_buffer);
    if (!datagram) {
        return std::nullopt;
    }
    return dispatch(std::span(receive_buffer.data(), datagram->size), datagram->source);
}

std::optional<Delivery> NetNode::dispatch(std::span<const std::uint8_t> datagram,
                                          const SocketAddress& source) {
    auto decoded = NetMessage::decode(datagram);
    if (!decoded) {
        ++counters.dropped_short;
        return std::nullopt;
    }
    NetMessage& message = *decoded;
    const auto sender = admit_sender(message, source);
    if (!sender) {
        ++counters.dropped_unknown;
        return std::nullopt;
    }
    ++counters.received;
    peers[*sender].idle_time = 0.0F;

    bool duplicate = false;
    if (message.reliable != 0) {
        duplicate = acknowledge(peers[*sender], message);
    }
    std::optional<std::size_t> delivered_peer = sender;
    if (duplicate) {
        // Every copy is acknowledged, but only the first one acts: a repeated chat line,
        // login or name change would otherwise relay or announce it again.
        ++counters.duplicates;
        message.length = 0;
    } else {
        handle_kind(*sender, message, delivered_peer);
    }
    if (message.length <= 0) {
        return std::nullopt;
    }
    return Delivery{message, delivered_peer};
}

std::optional<std::size_t> NetNode::admit_sender(const NetMessage& message,
                                                 const SocketAddress& source) {
    const AddressText text(source.ip);
    const auto known = find_peer(text.view());
    if (known) {
        // A login from a new port of a known host is a new process of that client (it
        // restarted): its old session would keep sending to a dead port and take the new
        // process's ids for duplicates, so it starts afresh in the same place.
        if (is_server && message.kind == KIND_LOGIN && !(peers[*known].address == source)) {
            Peer fresh;
            fresh.address_text = std::string(text.view());
            fresh.address = source;
            peers[*known] = std::move(fresh);
        }
        return known;
    }
    if (!admits_unknown_sender(message.kind)) {
        return std::nullopt;
    }
    Peer admitted;
    admitted.address_text = std::string(text.view());
    admitted.address = source;
    add_peer(admitted);
    return peers.size() - 1;
}

bool NetNode::acknowledge(Peer& peer, const NetMessage& message) {
    const bool duplicate = !peer.received_ids.remember(message.id);
    NetMessage& ack = peer.channel.queue_message(false);
    ack.kind = KIND_ACK;
    ack.length = 1;
    put_i32(ack.text, message.id);
    return duplicate;
}

void NetNode::handle_kind(std::size_t sender, NetMessage& message,
                          std::optional<std::size_t>& delivered_peer) {
    Peer& peer = peers[sender];
    switch (message.kind) {
        case KIND_PING: {
            NetMessage& pong = peer.channel.queue_message(false);
            pong.kind = KIND_PONG;
            pong.length = message.length;
            pong.text = message.text;
            pong.reserved = message.reserved;
            break;
        }
        case KIND_PONG:
            peer.round_trip = clock - get_f32(message.text);
            break;
        case KIND_ACK: {
            auto& queue = peer.channel.reliable_queue;
            const std::int32_t acked = get_i32(message.text);
            const auto found = std::find_if(queue.begin(), queue.end(),
                                            [&](const NetMessage& m) { return m.id == acked; });
            if (found != queue.end()) {
                queue.erase(found);
            }
            break;
        }
        case KIND_LOGOUT:
            handle_logout(sender, message, delivered_peer);
            break;
        case KIND_NICK_CHANGE:
            handle_name_change(sender, message);
            break;
        case KIND_NICK_NOTICE:
            notices.push_back(read_text(message));
            break;
        case KIND_LOGIN:
            if (is_server) {
                handle_login(sender, message);
            }
            break;
        case KIND_CHAT:
            if (is_server) {
                relay_chat(sender, message);
            }
            break;
        default:
            break;
    }
}

void NetNode::handle_logout(std::size_t sender, const NetMessage& message,
                            std::optional<std::size_t>& delivered_peer) {
    const std::string departed = peers[sender].name;
    remove_peer(sender);
    delivered_peer.reset();
    if (!is_server) {
        return;
    }
    queue_to_each(true, std::nullopt, [&](NetMessage& notice) {
        notice.kind = KIND_PEER_LOGGED_OUT;
        notice.reserved = message.reserved;
        set_text(notice, departed);
    });
}

void NetNode::handle_name_change(std::size_t sender, const NetMessage& message) {
    Peer& peer = peers[sender];
    std::string new_name = read_text(message);
    const std::string notice = peer.name + " changed nick to " + new_name;
    peer.name = std::move(new_name);
    if (is_server) {
        queue_to_each(true, sender, [&](NetMessage& relay) {
            relay.kind = KIND_NICK_NOTICE;
            set_text(relay, notice);
        });
    }
    notices.push_back(notice);
}

void NetNode::handle_login(std::size_t sender, const NetMessage& message) {
    Peer& peer = peers[sender];
    peer.name = read_text(message);
    NetMessage& accepted = peer.channel.queue_message(true);
    accepted.kind = KIND_LOGIN_ACCEPTED;
    set_text(accepted, name);
    const std::string newcomer = peer.name;
    queue_to_each(true, sender, [&](NetMessage& announce) {
        announce.kind = KIND_PEER_LOGGED_IN;
        announce.reserved = message.reserved;
        set_text(announce, newcomer);
    });
}

void NetNode::relay_chat(std::size_t sender, const NetMessage& message) {
    TextArea payload{};
    write_text_at(payload, 0, RELAY_NAME_MAX, peers[sender].name);
    write_text_at(payload, RELAY_LINE_OFFSET, RELAY_LINE_MAX, text_view(message));
    // The author is skipped by position: names and addresses are not unique when joined.
    queue_to_each(message.reliable != 0, sender, [&](NetMessage& relay) {
        relay.kind = KIND_CHAT_RELAY;
        relay.length = message.length;
        relay.reserved = message.reserved;
        relay.text = payload;
    });
}

}  // namespace tw
