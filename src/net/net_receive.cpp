#include <utility>

#include "net/net_node.h"

namespace tw {

namespace {

// All that is heard from a login not yet confirmed: the ack of its answer, its login,
// its logout. Anything else is dropped unacknowledged; a real client resends it once it
// is in.
bool heard_while_waiting(std::int32_t kind) {
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

Outcome NetNode::dispatch(std::span<const std::uint8_t> datagram, const SocketAddress& source) {
    const auto decoded = NetMessage::decode(datagram);
    if (!decoded) {
        ++counters.dropped_short;
        return {};
    }
    const NetMessage& message = *decoded;
    Outcome outcome;
    const auto sender = admit_sender(message, source, outcome);
    if (!sender) {
        return outcome;
    }
    Peer& peer = peers[*sender];
    peer.idle_time = 0.0F;
    if (peer.waiting() && !heard_while_waiting(message.kind)) {
        ++counters.dropped_unconfirmed;
        return outcome;
    }
    ++counters.received;
    // Every copy is acknowledged, but only the first one acts: a repeated chat line,
    // login or name change would otherwise relay or announce it again.
    if (message.reliable != 0 && acknowledge(peer, message)) {
        ++counters.duplicates;
        return outcome;
    }
    outcome.delivery = Delivery{message, sender};
    handle_kind(*sender, message, outcome);
    if (outcome.delivery && outcome.delivery->message.length <= 0) {
        outcome.delivery.reset();
    }
    return outcome;
}

std::optional<std::size_t> NetNode::admit_sender(const NetMessage& message,
                                                 const SocketAddress& source, Outcome& outcome) {
    if (const auto known = peers.find(source)) {
        return known;
    }
    // A server's peers come only from logins, a client's server only from its answer.
    const bool login = message.kind == KIND_LOGIN;
    const bool answer = message.kind == KIND_LOGIN_ACCEPTED && !is_server;
    if (!login && !answer) {
        ++counters.dropped_unknown;
        // The login goes with id 0 and no session: its ack is all a client hears of a
        // server that got it, and all it needs to stop sending it again.
        if (!is_server && message.kind == KIND_ACK && get_i32(message.text) == 0) {
            outcome.event = SessionEvent{SessionEvent::What::heard, {}, address_text(source.ip)};
        }
        return std::nullopt;
    }
    const bool waits = login && is_server;
    const auto admission = peers.admit(source, waits ? PeerState::waiting : PeerState::confirmed,
                                       waits ? id_source() : FIRST_MESSAGE_ID);
    if (!admission) {
        ++counters.refused_logins;
        return std::nullopt;
    }
    counters.displaced_logins += admission->displaced_waiting ? 1U : 0U;
    Peer& admitted = peers[admission->position];
    if (answer) {
        admitted.name = read_text(message);
        outcome.event =
            SessionEvent{SessionEvent::What::accepted, admitted.name, admitted.address_text};
    }
    return admission->position;
}

bool NetNode::acknowledge(Peer& peer, const NetMessage& message) {
    const bool duplicate = !peer.received_ids.remember(message.id);
    // The ack of the login answer is the one whose loss costs a session: a server lets a
    // login that never confirms go after 30 s, while its client already counts itself in.
    // A client sends it several times, so that on a link losing half of everything the
    // answer's copies practically never all go unconfirmed.
    const int copies = !is_server && message.kind == KIND_LOGIN_ACCEPTED ? LOGIN_ACK_COPIES : 1;
    for (int copy = 0; copy < copies; ++copy) {
        NetMessage& ack = peer.channel.queue_message(false);
        ack.kind = KIND_ACK;
        ack.length = 1;
        put_i32(ack.text, message.id);
    }
    return duplicate;
}

void NetNode::handle_kind(std::size_t sender, const NetMessage& message, Outcome& outcome) {
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
        case KIND_ACK:
            handle_ack(sender, message, outcome);
            break;
        case KIND_LOGOUT:
            handle_logout(sender, message, outcome);
            break;
        case KIND_NICK_CHANGE:
            handle_name_change(sender, message);
            break;
        case KIND_NICK_NOTICE:
            notices.push_back(read_text(message));
            break;
        case KIND_LOGIN:
            if (is_server) {
                handle_login(sender, message, outcome);
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

void NetNode::handle_ack(std::size_t sender, const NetMessage& message, Outcome& outcome) {
    Peer& peer = peers[sender];
    const std::int32_t acked = get_i32(message.text);
    if (peer.acknowledged(acked) && peer.waiting() && acked == peer.login_answer) {
        confirm_login(sender, outcome);
    }
}

void NetNode::handle_logout(std::size_t sender, const NetMessage& message, Outcome& outcome) {
    const Peer& peer = peers[sender];
    // Shown by the name it says goodbye with, or else the one it had.
    const std::string said = read_text(message);
    SessionEvent left{SessionEvent::What::left, said.empty() ? peer.name : said, peer.address_text};
    const std::string departed = peer.name;
    const bool shown = !peer.waiting();
    if (!is_server) {
        keep_unacknowledged_lines(peer);
    }
    remove_peer(sender);
    outcome.delivery->peer.reset();
    if (!shown) {
        // Nobody was told it came, so nobody is told it went.
        outcome.delivery.reset();
        return;
    }
    if (is_server) {
        announce_departure(departed, message.reserved, std::nullopt);
    }
    outcome.event = std::move(left);
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

void NetNode::handle_login(std::size_t sender, const NetMessage& message, Outcome& outcome) {
    // Shown and announced when the answer is acknowledged, not before.
    outcome.delivery.reset();
    Peer& peer = peers[sender];
    if (!peer.waiting()) {
        // A confirmed client's session is not started over by a datagram anyone could send.
        return;
    }
    peer.name = read_text(message);
    peer.login_reserved = message.reserved;
    if (!peer.channel.reliable_queue.empty()) {
        // The answer already waits for its ack: another copy would only pile up.
        return;
    }
    NetMessage& accepted = peer.channel.queue_message(true);
    accepted.kind = KIND_LOGIN_ACCEPTED;
    set_text(accepted, name);
    peer.login_answer = accepted.id;
}

void NetNode::confirm_login(std::size_t sender, Outcome& outcome) {
    peers[sender].confirm();
    SessionEvent joined{SessionEvent::What::joined, peers[sender].name, peers[sender].address_text};
    const std::int32_t reserved = peers[sender].login_reserved;
    if (const auto earlier = peers.earlier_session(sender)) {
        // The same user back from a new port: everyone who saw the old session come sees
        // it go before the new one is announced.
        remove_peer(*earlier);
        sender -= *earlier < sender ? 1 : 0;
        announce_departure(joined.name, reserved, sender);
        joined.replaced_earlier = true;
    }
    queue_to_each(true, sender, [&](NetMessage& announce) {
        announce.kind = KIND_PEER_LOGGED_IN;
        announce.reserved = reserved;
        set_text(announce, joined.name);
    });
    outcome.delivery->peer = sender;
    outcome.event = std::move(joined);
}

void NetNode::announce_departure(const std::string& departed, std::int32_t reserved,
                                 std::optional<std::size_t> except) {
    queue_to_each(true, except, [&](NetMessage& notice) {
        notice.kind = KIND_PEER_LOGGED_OUT;
        notice.reserved = reserved;
        set_text(notice, departed);
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
