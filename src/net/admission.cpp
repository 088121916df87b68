#include "net/admission.h"

#include <algorithm>
#include <utility>

namespace tw {

AdmissionDecision Admission::unknown_sender(const PeerTable& peers, const NetMessage& message,
                                            const SocketAddress& source, SessionTime now) {
    if (message.kind == KIND_LOGIN) {
        if (disputed(source, now)) {
            AdmissionDecision decision;
            decision.unknown = true;
            return decision;
        }
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
    const Load load = load_for(peers, source, text_view(message));
    decision.reason = refusal(load);
    if (decision.reason != nullptr) {
        return decision;
    }
    // A name lifts no bound until its login is proven: a login that would replace its
    // user's session on a full host waits by cookie, as one beyond the waiting places.
    const bool place = load.waiting < MAX_WAITING_PEERS &&
                       load.waiting_of_host < MAX_SESSIONS_PER_HOST && peers.size() < MAX_PEERS &&
                       load.confirmed_of_host < MAX_SESSIONS_PER_HOST;
    decision.step =
        place ? AdmissionDecision::Step::wait : AdmissionDecision::Step::answer_by_cookie;
    return decision;
}

AdmissionDecision Admission::cookie_ack(const PeerTable& peers, const NetMessage& message,
                                        const SocketAddress& source, SessionTime now) {
    AdmissionDecision decision;
    const std::int32_t acked = get_i32(message.text);
    if (auto login = cookies.redeem(acked, source, now)) {
        decision.reason = refusal(load_for(peers, source, login->name));
        if (decision.reason == nullptr && peers.size() >= MAX_PEERS) {
            decision.reason = TABLE_FULL_REASON;
        }
        if (decision.reason == nullptr) {
            decision.step = AdmissionDecision::Step::wait_redeemed;
            decision.login = std::move(login);
            return decision;
        }
        return decision;
    }
    decision.unknown = true;
    // A good answer whose name a later login has taken the place of: its client counts
    // itself in, and is told at once that it is not.
    decision.tell_no_session = cookies.valid(acked, source, now);
    return decision;
}

void Admission::dispute(const SocketAddress& address, SessionTime now) {
    disputes[next_dispute] = Dispute{address, now + DISPUTE_SPAN};
    next_dispute = (next_dispute + 1) % disputes.size();
}

bool Admission::disputed(const SocketAddress& address, SessionTime now) const {
    return std::any_of(disputes.begin(), disputes.end(), [&](const Dispute& dispute) {
        return dispute.address == address && now < dispute.until;
    });
}

std::optional<std::int32_t> Admission::issue_cookie(
    const NetMessage& login, const SocketAddress& source, SessionTime now,
    const std::function<std::int32_t()>& id_source) {
    if (!cookies.has_key()) {
        const auto word = [&id_source] {
            return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(id_source())) << 32U) |
                   static_cast<std::uint32_t>(id_source());
        };
        const std::uint64_t first = word();
        cookies.set_key(first, word());
    }
    const auto id = cookies.issue(source, now, text_view(login), login.reserved);
    if (!id) {
        dispute(source, now);
    }
    return id;
}

Admission::LoginStep Admission::login_from(Peer& peer, const NetMessage& login) {
    if (!peer.waiting()) {
        return answers_relogin(peer, text_view(login)) ? LoginStep::answer_by_cookie
                                                       : LoginStep::none;
    }
    // Once the answer waits for its ack, another copy would only pile up.
    if (!peer.channel.reliable_queue.empty()) {
        return read_text(login) == peer.name ? LoginStep::none : LoginStep::withdraw;
    }
    peer.name = read_text(login);
    peer.pending->reserved = login.reserved;
    return LoginStep::answer;
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

const char* Admission::refusal_at_confirm(const PeerTable& peers, std::size_t position) {
    return refusal(load_for(peers, peers[position].address, peers[position].name));
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

Admission::Load Admission::load_for(const PeerTable& peers, const SocketAddress& address,
                                    std::string_view name) {
    Load load;
    for (const Peer& peer : peers) {
        const bool of_host = peer.address.ip == address.ip;
        if (peer.waiting()) {
            ++load.waiting;
            load.waiting_of_host += of_host ? 1 : 0;
        } else {
            ++load.confirmed;
            load.confirmed_of_host += of_host ? 1 : 0;
            load.replaces_own = load.replaces_own || (of_host && peer.name == name);
        }
    }
    return load;
}

const char* Admission::refusal(const Load& load) {
    // A user whose host is at its bound still gets in when the session would replace one
    // of that user's own (same host and name).
    if (load.confirmed_of_host >= MAX_SESSIONS_PER_HOST && !load.replaces_own) {
        return HOST_FULL_REASON;
    }
    if (load.confirmed >= MAX_PEERS) {
        return TABLE_FULL_REASON;
    }
    return nullptr;
}

}  // namespace tw
