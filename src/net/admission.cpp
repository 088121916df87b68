#include "net/admission.h"

#include <utility>

namespace tw {

AdmissionDecision Admission::unknown_sender(const PeerTable& peers, const NetMessage& message,
                                            const SocketAddress& source, SessionTime now) {
    if (message.kind == KIND_LOGIN) {
        return login(peers, message, source);
    }
    if (message.kind == KIND_ACK) {
        return cookie_ack(peers, message, source, now);
    }
    AdmissionDecision decision;
    decision.unknown = true;
    // A client that counts itself in a session this server does not have (the server
    // restarted, or every ack of its answer was lost) learns it here.
    decision.tell_no_session =
        message.kind == KIND_PING || message.kind == KIND_CHAT || message.kind == KIND_NICK_CHANGE;
    return decision;
}

AdmissionDecision Admission::login(const PeerTable& peers, const NetMessage& message,
                                   const SocketAddress& source) const {
    AdmissionDecision decision;
    const auto refused = refusal(peers, source, PeerState::waiting, text_view(message));
    if (!refused) {
        decision.step = AdmissionDecision::Step::wait;
    } else if (*refused == Refusal::waiting_full) {
        decision.step = AdmissionDecision::Step::answer_by_cookie;
    } else {
        decision.refused = true;
    }
    return decision;
}

AdmissionDecision Admission::cookie_ack(const PeerTable& peers, const NetMessage& message,
                                        const SocketAddress& source, SessionTime now) {
    AdmissionDecision decision;
    const std::int32_t acked = get_i32(message.text);
    if (auto login = cookies.redeem(acked, source, now)) {
        if (!refusal(peers, source, PeerState::confirmed, login->name)) {
            decision.step = AdmissionDecision::Step::wait_redeemed;
            decision.login = std::move(login);
            return decision;
        }
        decision.refused = true;
    }
    decision.unknown = true;
    // A good answer whose name a later login has taken the place of: its client counts
    // itself in, and is told at once that it is not.
    decision.tell_no_session = cookies.valid(acked, source, now);
    return decision;
}

std::int32_t Admission::issue_cookie(const NetMessage& login, const SocketAddress& source,
                                     SessionTime now,
                                     const std::function<std::int32_t()>& id_source) {
    if (!cookies.has_key()) {
        const auto word = [&id_source] {
            return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(id_source())) << 32U) |
                   static_cast<std::uint32_t>(id_source());
        };
        const std::uint64_t first = word();
        cookies.set_key(first, word());
    }
    return cookies.issue(source, now, text_view(login), login.reserved);
}

Admission::LoginStep Admission::login_from(Peer& peer, const NetMessage& login) {
    if (!peer.waiting()) {
        return answers_relogin(peer, text_view(login)) ? LoginStep::answer_by_cookie
                                                       : LoginStep::none;
    }
    peer.name = read_text(login);
    peer.pending->reserved = login.reserved;
    // Once the answer waits for its ack, another copy would only pile up.
    return peer.channel.reliable_queue.empty() ? LoginStep::answer : LoginStep::none;
}

void Admission::answered(Peer& peer, std::int32_t answer) {
    peer.pending->answer = answer;
}

void Admission::redeemed(Peer& peer, const RememberedLogin& login, std::int32_t answer) {
    peer.name = login.name;
    peer.pending->reserved = login.reserved;
    peer.pending->answer = answer;
}

bool Admission::confirms(const Peer& peer, std::int32_t acked) {
    // The answer is in the queue, or was given without a session and is its cookie.
    return peer.waiting() && acked == peer.pending->answer;
}

bool Admission::answers_relogin(const Peer& peer, std::string_view name) {
    // Only under the same name: a forger's login from this address would otherwise get
    // its answer acknowledged by the real client and take its session under another name.
    return !peer.waiting() && name == peer.name;
}

std::optional<RememberedLogin> Admission::restarted(const Peer& peer, std::int32_t acked,
                                                    SessionTime now) {
    return cookies.redeem(acked, peer.address, now);
}

std::optional<Admission::Refusal> Admission::refusal(const PeerTable& peers,
                                                     const SocketAddress& address, PeerState state,
                                                     std::string_view name) {
    // A user whose host is at its bound still gets in when the session would replace one
    // of that user's own (same host and name).
    std::size_t of_host = 0;
    bool replaces_own = false;
    std::size_t waiting = 0;
    for (const Peer& peer : peers) {
        waiting += peer.waiting() ? 1 : 0;
        if (peer.address.ip == address.ip) {
            ++of_host;
            replaces_own = replaces_own || (!peer.waiting() && peer.name == name);
        }
    }
    if (of_host >= MAX_SESSIONS_PER_HOST && !replaces_own) {
        return Refusal::host_full;
    }
    if (peers.size() >= MAX_PEERS) {
        return Refusal::table_full;
    }
    if (state == PeerState::waiting && waiting >= MAX_WAITING_PEERS) {
        return Refusal::waiting_full;
    }
    return std::nullopt;
}

}  // namespace tw
