#include <algorithm>
#include <utility>

#include "net/net_node.h"

namespace tw {

namespace {

bool admits_unknown_sender(std::int32_t kind) {
    return kind == KIND_LOGIN || kind == KIND_LOGIN_ACCEPTED;
}

// All that a login not yet confirmed may do: acknowledge its answer, log in, leave.
bool heard_before_confirmation(std::int32_t kind) {
    return kind == KIND_ACK || kind == KIND_LOGIN || kind == KIND_LOGOUT;
}

}  // namespace

Reception NetNode::receive() {
    const auto datagram = endpoint.receive_from(receive_buffer);
    if (!datagram) {
        return {};
    }
    return {true, dispatch(std::span(receive_buffer.data(), datagram->size), datagram->source)};
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
        return std::nullopt;
    }
    if (!peers[*sender].announced && !heard_before_confirmation(message.kind)) {
        // Not even acknowledged: a real client sends nothing else before its login is
        // answered, and what it did send is resent once it is in.
        ++counters.dropped_unconfirmed;
        return std::nullopt;
    }
    ++counters.received;
    if (peers[*sender].announced) {
        // An unconfirmed login shows it is alive only by acknowledging its answer.
        peers[*sender].idle_time = 0.0F;
    }

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
            if (!may_admit_login()) {
                ++counters.refused_logins;
                return std::nullopt;
            }
            Peer fresh;
            fresh.address_text = std::string(text.view());
            fresh.address = source;
            fresh.announced = false;
            peers[*known] = std::move(fresh);
        }
        return known;
    }
    if (!admits_unknown_sender(message.kind)) {
        ++counters.dropped_unknown;
        return std::nullopt;
    }
    const bool login = is_server && message.kind == KIND_LOGIN;
    if (peers.size() >= MAX_PEERS || (login && !may_admit_login())) {
        ++counters.refused_logins;
        return std::nullopt;
    }
    Peer admitted;
    admitted.address_text = std::string(text.view());
    admitted.address = source;
    admitted.announced = !login;
    add_peer(admitted);
    return peers.size() - 1;
}

bool NetNode::may_admit_login() const {
    const auto waiting =
        std::count_if(peers.begin(), peers.end(), [](const Peer& peer) { return !peer.announced; });
    return static_cast<std::size_t>(waiting) < MAX_UNCONFIRMED_PEERS;
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
            const std::int32_t acked = get_i32(message.text);
            if (peer.acknowledged(acked) && peer.login_answer == acked) {
                peer.login_answer.reset();
                if (!peer.announced) {
                    confirm_login(sender, message);
                }
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

void NetNode::handle_logout(std::size_t sender, NetMessage& message,
                            std::optional<std::size_t>& delivered_peer) {
    const std::string departed = peers[sender].name;
    const bool announced = peers[sender].announced;
    remove_peer(sender);
    delivered_peer.reset();
    if (!announced) {
        // Nobody was told it came, so nobody is told it went.
        message.length = 0;
        return;
    }
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

void NetNode::handle_login(std::size_t sender, NetMessage& message) {
    Peer& peer = peers[sender];
    peer.name = read_text(message);
    // Shown and announced when the answer is acknowledged, not before.
    message.length = 0;
    if (peer.login_answer) {
        // The answer already waits for its ack: another copy would only pile up.
        return;
    }
    NetMessage& accepted = peer.channel.queue_message(true);
    accepted.kind = KIND_LOGIN_ACCEPTED;
    set_text(accepted, name);
    peer.login_answer = accepted.id;
    peer.login_reserved = message.reserved;
}

void NetNode::confirm_login(std::size_t sender, NetMessage& message) {
    Peer& peer = peers[sender];
    peer.announced = true;
    peer.idle_time = 0.0F;
    const std::string newcomer = peer.name;
    queue_to_each(true, sender, [&](NetMessage& announce) {
        announce.kind = KIND_PEER_LOGGED_IN;
        announce.reserved = peer.login_reserved;
        set_text(announce, newcomer);
    });
    // The acknowledgement is handed on as the login it completes, which is what the
    // application shows.
    NetMessage login;
    login.id = message.id;
    login.kind = KIND_LOGIN;
    login.reliable = message.reliable;
    login.reserved = peer.login_reserved;
    set_text(login, newcomer);
    message = login;
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
