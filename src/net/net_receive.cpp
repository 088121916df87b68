#include <algorithm>
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

bool NetNode::receive(SessionTime reading) {
    const auto datagram = socket_endpoint.receive_from(receive_buffer);
    if (!datagram) {
        return false;
    }
    dispatch(std::span(receive_buffer.data(), datagram->size), datagram->source, reading);
    return true;
}

void NetNode::dispatch(std::span<const std::uint8_t> datagram, const SocketAddress& source,
                       SessionTime reading) {
    set_now(reading);
    handle_datagram(datagram, source);
    // After the answer that let the client back in has been acknowledged: a line that
    // reached the server before that ack would be dropped as from a login not confirmed.
    if (!kept_lines.empty() && session.phase() == SessionPhase::in) {
        send_unacknowledged_lines();
    }
}

void NetNode::handle_datagram(std::span<const std::uint8_t> datagram, const SocketAddress& source) {
    const auto decoded = NetMessage::decode(datagram);
    if (!decoded) {
        ++counts.dropped_short;
        return;
    }
    const NetMessage& message = *decoded;
    const auto sender = admit_sender(message, source);
    if (!sender) {
        return;
    }
    Peer& peer = peer_table[*sender];
    peer.heard_at = now;
    if (peer.waiting() && !heard_while_waiting(message.kind)) {
        ++counts.dropped_unconfirmed;
        return;
    }
    ++counts.received;
    // A login from a confirmed session is its client restarted on the same port; its id
    // (0) was seen long ago, so it goes to its handling unacknowledged.
    if (serving && message.kind == KIND_LOGIN && !peer.waiting()) {
        handle_login(*sender, message);
        return;
    }
    if (serving && message.kind == KIND_CHAT && peer.held_back()) {
        // Neither acknowledged nor taken: its author sends it again in 2 s, by when it may
        // have taken what it was sent.
        ++counts.held_back_lines;
        return;
    }
    // Nothing ends or restarts a session on trust: a goodbye must carry an id only the
    // peer can know, or it is asked whether it meant it; and a client in a session
    // acknowledges no login answer it did not ask for, since that ack is what would let a
    // forger's login from its address take its session over.
    const bool goodbye = message.kind == KIND_LOGOUT && !peer.waiting();
    if ((goodbye && !proves_goodbye(peer, message.id)) ||
        (!serving && message.kind == KIND_LOGIN_ACCEPTED && unasked_answer(message))) {
        ++counts.unproven;
        if (goodbye) {
            challenge(peer);
        }
        return;
    }
    if (message.reliable != 0) {
        // Every copy is acknowledged, but only the first one acts: a repeated chat line,
        // login or name change would otherwise relay or announce it again.
        const IdFate fate = acknowledge(peer, message);
        if (fate != IdFate::fresh) {
            ++(fate == IdFate::seen ? counts.duplicates : counts.unproven);
            return;
        }
    } else if (message.kind != KIND_LOGOUT) {
        peer.received_ids.heard(message.id);
    }
    // Before what the message changes: a goodbye comes before the departure it causes.
    deliver(message, peer);
    handle_kind(*sender, message);
}

void NetNode::deliver(const NetMessage& message, const Peer& peer) {
    switch (message.kind) {
        case KIND_ACK:
        case KIND_PING:
        case KIND_PONG:
            return;
        case KIND_LOGIN:
            // A server's login is shown once confirmed, as the joined event.
            if (serving) {
                return;
            }
            break;
        case KIND_LOGOUT:
            // Nobody was told a login not yet confirmed came, so nobody is told it went.
            if (peer.waiting()) {
                return;
            }
            break;
        default:
            break;
    }
    if (message.length <= 0) {
        return;
    }
    SessionEvent delivered{SessionEvent::What::message, {}, {}};
    delivered.message = message;
    // A goodbye's sender leaves the table with it.
    if (message.kind != KIND_LOGOUT) {
        delivered.peer = peer.handle;
    }
    pending_events.push_back(std::move(delivered));
}

std::optional<std::size_t> NetNode::admit_sender(const NetMessage& message,
                                                 const SocketAddress& source) {
    if (const auto known = peer_table.find(source)) {
        return known;
    }
    if (serving) {
        return admit(admission.unknown_sender(peer_table, message, source, now), message, source);
    }
    // A refusal answers the login, whose id is 0.
    if (message.kind == KIND_LOGOUT && message.id == 0) {
        note_refusal(read_text(message));
    }
    // An answer before the login is out answers someone else's login from this port.
    const SessionPhase phase = session.phase();
    if (message.kind == KIND_LOGIN_ACCEPTED && phase != SessionPhase::logging_in &&
        phase != SessionPhase::none) {
        ++counts.unproven;
        return std::nullopt;
    }
    if (message.kind != KIND_LOGIN_ACCEPTED && message.kind != KIND_LOGIN) {
        ++counts.dropped_unknown;
        // The login goes with id 0 and no session: its ack is all a client hears of a
        // server that got it, and all it needs to stop sending it again.
        if (message.kind == KIND_ACK && get_i32(message.text) == 0) {
            report(SessionEvent{SessionEvent::What::heard, {}, address_text(source.ip)});
        }
        return std::nullopt;
    }
    // A client's ids toward its server start where no forger can guess them, so that no
    // forged datagram can move the server's window past what the client will send.
    const std::size_t position = peer_table.admit(source, PeerState::confirmed, id_source(), now);
    if (message.kind == KIND_LOGIN_ACCEPTED) {
        Peer& server = peer_table[position];
        server.name = read_text(message);
        server.pinged_at = now - (PING_INTERVAL - FIRST_PING);
        report(SessionEvent{SessionEvent::What::accepted, server.name, server.address_text});
        std::get<phase::In>(session.now_in).answer = message.id;
    }
    return position;
}

std::optional<std::size_t> NetNode::admit(const AdmissionDecision& decision,
                                          const NetMessage& message, const SocketAddress& source) {
    counts.dropped_unknown += decision.unknown ? 1 : 0;
    if (decision.tell_no_session) {
        tell_no_session(source, message.id);
    }
    if (decision.reason != nullptr) {
        ++counts.refused_logins;
        refuse_login(source, decision.reason);
    }
    switch (decision.step) {
        case AdmissionDecision::Step::wait:
            return peer_table.admit(source, PeerState::waiting, id_source(), now);
        case AdmissionDecision::Step::wait_redeemed:
            return admit_redeemed(source, *decision.login, get_i32(message.text));
        case AdmissionDecision::Step::answer_by_cookie:
            answer_without_session(message, source);
            break;
        case AdmissionDecision::Step::drop:
            break;
    }
    return std::nullopt;
}

std::size_t NetNode::admit_redeemed(const SocketAddress& address, const RememberedLogin& login,
                                    std::int32_t answer) {
    // Waiting for the one dispatch it takes to confirm it: the ack at hand is its answer's.
    const std::size_t position = peer_table.admit(address, PeerState::waiting, id_source(), now);
    Admission::redeemed(peer_table[position], login, answer);
    return position;
}

void NetNode::answer_without_session(const NetMessage& login, const SocketAddress& source) {
    const auto cookie = admission.issue_cookie(login, source, now, id_source);
    if (!cookie) {
        ++counts.refused_logins;
        return;
    }
    ++counts.cookie_logins;
    NetMessage answer;
    answer.id = *cookie;
    answer.reliable = 1;
    answer.kind = KIND_LOGIN_ACCEPTED;
    set_text(answer, own_name);
    // Not held to the reply budget: it is what a real client under a flood gets in by.
    unattached.push_back(Unattached{source, answer});
}

void NetNode::tell_no_session(const SocketAddress& source, std::int32_t answered) {
    if (!reply_budget.take(now)) {
        return;
    }
    ++counts.told_unknown;
    NetMessage logout;
    logout.id = answered;
    logout.kind = KIND_LOGOUT;
    set_text(logout, own_name);
    unattached.push_back(Unattached{source, logout});
}

void NetNode::refuse_login(const SocketAddress& source, const char* reason) {
    if (!reply_budget.take(now)) {
        return;
    }
    NetMessage logout;
    logout.kind = KIND_LOGOUT;
    set_text(logout, reason);
    unattached.push_back(Unattached{source, logout});
}

bool NetNode::unasked_answer(const NetMessage& message) const {
    // Copies of the answer that let the client in are acknowledged again (its acks may
    // all have been lost); any other answer is a reply to a login the client never sent.
    const auto* in = std::get_if<phase::In>(&session.now_in);
    return in == nullptr || in->answer != message.id;
}

bool NetNode::proves_goodbye(const Peer& peer, std::int32_t id) const {
    // A goodbye takes the next id of its sender's counter, which only the traffic shows.
    if (peer.received_ids.could_be_next(id)) {
        return true;
    }
    if (serving) {
        return false;
    }
    // A server's "no session" echoes the id of a datagram the client sent it lately.
    const auto sent_before =
        static_cast<std::uint32_t>(peer.channel.next_id) - static_cast<std::uint32_t>(id);
    const auto& queue = peer.channel.reliable_queue;
    return (sent_before >= 1 && sent_before <= RECENT_OWN_IDS) ||
           std::any_of(queue.begin(), queue.end(),
                       [id](const NetMessage& queued) { return queued.id == id; });
}

void NetNode::challenge(Peer& peer) {
    if (now - peer.pinged_at < CHALLENGE_INTERVAL) {
        return;
    }
    peer.pinged_at = now;
    send_ping(peer);
}

IdFate NetNode::acknowledge(Peer& peer, const NetMessage& message) {
    // A login's id (0) is no part of the session's ids, which start anywhere: entered in
    // the window, it could make the client's first ids look old.
    const IdFate fate =
        message.kind == KIND_LOGIN ? IdFate::fresh : peer.received_ids.remember(message.id);
    if (fate == IdFate::out_of_reach) {
        // Not the sender's: its own copy comes again once the window stands where it is.
        return fate;
    }
    // The ack of the login answer is the one whose loss costs a session: a server lets a
    // login that never confirms go after 30 s, while its client already counts itself in.
    // A client sends it several times, so that on a link losing half of everything the
    // answer's copies practically never all go unconfirmed.
    const int copies = !serving && message.kind == KIND_LOGIN_ACCEPTED ? LOGIN_ACK_COPIES : 1;
    for (int copy = 0; copy < copies; ++copy) {
        NetMessage& ack = peer.channel.queue_message(false);
        ack.kind = KIND_ACK;
        ack.length = 1;
        put_i32(ack.text, message.id);
    }
    return fate;
}

void NetNode::handle_kind(std::size_t sender, const NetMessage& message) {
    Peer& peer = peer_table[sender];
    switch (message.kind) {
        case KIND_PING: {
            NetMessage& pong = peer.channel.queue_message(false);
            pong.kind = KIND_PONG;
            pong.length = message.length;
            pong.text = message.text;
            pong.reserved = message.reserved;
            break;
        }
        case KIND_PONG: {
            // The clock wraps (PING_CLOCK_WRAP); a pong from before the wrap still counts.
            const float wrap = to_seconds(PING_CLOCK_WRAP);
            const float sent = get_f32(message.text);
            const float trip = ping_clock() - sent;
            peer.round_trip = trip < 0.0F ? trip + wrap : trip;
            // The answer to our latest ping, which only a host that saw it can give, shows
            // where the peer's counter stands.
            if (sent == ping_clock_at(peer.pinged_at)) {
                peer.received_ids.anchor(message.id);
            }
            break;
        }
        case KIND_ACK:
            handle_ack(sender, message);
            break;
        case KIND_LOGOUT:
            handle_logout(sender, message);
            break;
        case KIND_NICK_CHANGE:
            handle_name_change(sender, message);
            break;
        case KIND_LOGIN:
            if (serving) {
                handle_login(sender, message);
            }
            break;
        case KIND_CHAT:
            if (serving) {
                relay_chat(sender, message);
            }
            break;
        default:
            break;
    }
}

void NetNode::handle_ack(std::size_t sender, const NetMessage& message) {
    Peer& peer = peer_table[sender];
    const std::int32_t acked = get_i32(message.text);
    if (!serving) {
        report_delivered_line(peer, acked);
    }
    const bool queued = peer_table.acknowledged(sender, acked, now);
    if (Admission::confirms(peer, acked)) {
        if (const char* reason = Admission::refusal_at_confirm(peer_table, sender)) {
            ++counts.refused_logins;
            const SocketAddress address = peer.address;
            peer_table.remove(sender);
            refuse_login(address, reason);
            return;
        }
        confirm_login(sender, message);
    } else if (!queued && serving && !peer.waiting()) {
        restart_session(sender, message);
    }
}

void NetNode::report_delivered_line(const Peer& server, std::int32_t acked) {
    // The queue acknowledges its first message of the id, and so does this.
    const auto& queue = server.channel.reliable_queue;
    const auto found = std::find_if(queue.begin(), queue.end(),
                                    [acked](const NetMessage& m) { return m.id == acked; });
    if (found != queue.end() && found->kind == KIND_CHAT) {
        SessionEvent delivered{SessionEvent::What::delivered, {}, server.address_text};
        delivered.message = *found;
        pending_events.push_back(std::move(delivered));
    }
}

void NetNode::restart_session(std::size_t sender, const NetMessage& ack) {
    const Peer& old = peer_table[sender];
    const std::int32_t acked = get_i32(ack.text);
    const auto login = admission.restarted(old, acked, now);
    if (!login) {
        return;
    }
    // The client restarted on its old port has confirmed its new login: the old session
    // ends as a logout does, and the new one starts from nothing.
    const SocketAddress address = old.address;
    const std::string old_name = old.name;
    peer_table.remove(sender);
    announce_departure(old_name, login->reserved, std::nullopt);
    confirm_login(admit_redeemed(address, *login, acked), ack);
    pending_events.back().replaced_earlier = true;
}

void NetNode::handle_logout(std::size_t sender, const NetMessage& message) {
    const Peer& peer = peer_table[sender];
    // Shown by the name it says goodbye with, or else the one it had.
    const std::string said = read_text(message);
    SessionEvent left{SessionEvent::What::left, said.empty() ? peer.name : said, peer.address_text};
    const std::string departed = peer.name;
    const bool shown = !peer.waiting();
    if (!serving) {
        keep_unacknowledged_lines(peer);
    }
    peer_table.remove(sender);
    if (!shown) {
        // Nobody was told it came, so nobody is told it went.
        return;
    }
    if (serving) {
        announce_departure(departed, message.reserved, std::nullopt);
    }
    pending_events.push_back(left);
    if (!serving) {
        // A client's only peer is its server: its goodbye ends the session.
        left.what = SessionEvent::What::lost;
        report(std::move(left));
        report_kept_lines();
    }
}

void NetNode::handle_name_change(std::size_t sender, const NetMessage& message) {
    Peer& peer = peer_table[sender];
    std::string new_name = read_text(message);
    SessionEvent renamed{SessionEvent::What::renamed, new_name, peer.address_text};
    renamed.earlier_name = std::exchange(peer.name, std::move(new_name));
    if (serving) {
        // The others are told in words of the server's own, as every client shows them.
        const std::string notice = renamed.earlier_name + " changed nick to " + renamed.name;
        queue_to_each(true, sender, [&](NetMessage& relay) {
            relay.kind = KIND_NICK_NOTICE;
            set_text(relay, notice);
        });
    }
    pending_events.push_back(std::move(renamed));
}

void NetNode::handle_login(std::size_t sender, const NetMessage& message) {
    // Shown and announced when the answer is acknowledged, not before.
    Peer& peer = peer_table[sender];
    switch (Admission::login_from(peer, message)) {
        case Admission::LoginStep::answer: {
            NetMessage& accepted = peer.channel.queue_message(true);
            accepted.kind = KIND_LOGIN_ACCEPTED;
            set_text(accepted, own_name);
            Admission::answered(peer, accepted.id);
            break;
        }
        case Admission::LoginStep::answer_by_cookie:
            answer_without_session(message, peer.address);
            break;
        case Admission::LoginStep::withdraw:
            ++counts.refused_logins;
            admission.dispute(peer.address, now);
            peer_table.remove(sender);
            break;
        case Admission::LoginStep::none:
            break;
    }
}

void NetNode::confirm_login(std::size_t sender, const NetMessage& ack) {
    const std::int32_t reserved = peer_table[sender].confirm(now).reserved;
    // The ack's id comes from the client's one counter, wherever that starts: the window
    // starts just before it, so a forged id that arrives first cannot make the client's
    // own look old.
    static_cast<void>(peer_table[sender].received_ids.remember(id_step(ack.id, -1)));
    SessionEvent joined{SessionEvent::What::joined, peer_table[sender].name,
                        peer_table[sender].address_text};
    if (const auto earlier = peer_table.earlier_session(sender)) {
        // The same user back from a new port: everyone who saw the old session come sees
        // it go before the new one is announced.
        peer_table.remove(*earlier);
        sender -= *earlier < sender ? 1 : 0;
        announce_departure(joined.name, reserved, sender);
        joined.replaced_earlier = true;
    }
    queue_to_each(true, sender, [&](NetMessage& announce) {
        announce.kind = KIND_PEER_LOGGED_IN;
        announce.reserved = reserved;
        set_text(announce, joined.name);
    });
    pending_events.push_back(std::move(joined));
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
    write_text_at(payload, 0, RELAY_NAME_MAX, peer_table[sender].name);
    write_text_at(payload, RELAY_LINE_OFFSET, RELAY_LINE_MAX, text_view(message));
    const bool reliable = message.reliable != 0;
    // The author is skipped by position: names and addresses are not unique when joined.
    for (std::size_t i = 0; i < peer_table.size(); ++i) {
        if (i == sender) {
            continue;
        }
        NetMessage& relay = peer_table[i].queue_for_session(reliable);
        relay.kind = KIND_CHAT_RELAY;
        relay.length = message.length;
        relay.reserved = message.reserved;
        relay.text = payload;
    }
}

}  // namespace tw
