#include "net/peer.h"

#include <algorithm>
#include <utility>

namespace tw {

NetMessage& Peer::queue_for_session(bool reliable) {
    if (!waiting()) {
        return channel.queue_message(reliable);
    }
    NetMessage& message = pending->held.emplace_back();
    message.reliable = reliable ? 1 : 0;
    return message;
}

PendingLogin Peer::confirm(SessionTime now) {
    PendingLogin login = std::move(pending).value_or(PendingLogin{});
    pending.reset();
    // Its pings start now: the time it waited was never pinged.
    pinged_at = now;
    for (const NetMessage& kept : login.held) {
        NetMessage& message = channel.queue_message(kept.reliable != 0);
        message.kind = kept.kind;
        message.length = kept.length;
        message.reserved = kept.reserved;
        message.text = kept.text;
    }
    login.held = {};
    return login;
}

bool Peer::acknowledged(std::int32_t id, SessionTime now) {
    auto& queue = channel.reliable_queue;
    const auto found =
        std::find_if(queue.begin(), queue.end(), [id](const NetMessage& m) { return m.id == id; });
    if (found == queue.end()) {
        return false;
    }
    // Only the oldest message's wait is kept. When it is acknowledged the next one's wait
    // is counted from now: a peer that acknowledges is never cut short, and one that
    // acknowledges nothing is dropped 30 s after its first unanswered message.
    const bool oldest = found == queue.begin();
    queue.erase(found);
    if (oldest) {
        unacknowledged_since = queue.empty() ? std::nullopt : std::optional(now);
    }
    return true;
}

namespace {

// The limits of silence, pings and unacknowledged waits are crossed only once a clock has
// gone past them: the first reading that does so is the one just after.
SessionTime past(SessionTime since, SessionTime limit) {
    return since + limit + SessionTime{1};
}

}  // namespace

SessionTime PeerDue::nearest() const {
    return std::min({time_out, ping, resend, flush});
}

PeerDue Peer::due(SessionTime now) const {
    PeerDue due = deadlines(now);
    for (const QueuedMessage& message : channel.reliable_queue) {
        due.resend = std::min(due.resend, message.due_at);
    }
    return due;
}

PeerDue Peer::deadlines(SessionTime now) const {
    PeerDue due;
    // Resend copies in the outbox are not counted: a long line sent in many pieces makes
    // as many copies at once, and they leave with the next pass.
    const bool piled_up = channel.reliable_queue.size() + held_count() > QUEUE_LIMIT;
    if (piled_up) {
        due.time_out = NEXT_PASS;
    } else if (!channel.reliable_queue.empty()) {
        due.time_out = past(unacknowledged_since.value_or(now), UNACKNOWLEDGED_LIMIT);
    }
    // A waiting login is quiet until its answer gets through, so silence says nothing
    // about it; the bound on its unacknowledged answer lets it go. It hears its answer
    // every 2 s, and a ping would only add to what a forged login gets back.
    if (!waiting()) {
        due.time_out = std::min(due.time_out, past(heard_at, TIMEOUT_SPAN));
        due.ping = past(pinged_at, PING_INTERVAL);
    }
    if (!channel.outbox.empty()) {
        due.flush = NEXT_PASS;
    }
    return due;
}

void Peer::note_waiting(SessionTime now) {
    if (channel.reliable_queue.empty()) {
        unacknowledged_since.reset();
    } else if (!unacknowledged_since) {
        unacknowledged_since = now;
    }
}

void Peer::schedule_resends(SessionTime now) {
    // queue_message appends to the outbox only, so walking the reliable queue by index
    // stays valid while copies are made.
    for (std::size_t i = 0; i < channel.reliable_queue.size(); ++i) {
        const QueuedMessage& message = channel.reliable_queue[i];
        if (message.due_at > now) {
            continue;
        }
        NetMessage copy = message;
        copy.resend_timer = message.due_at == NEXT_PASS ? 0.0F : to_seconds(message.due_at - now);
        channel.queue_message(false) = copy;
        channel.reliable_queue[i].due_at = now + RESEND_INTERVAL;
    }
}

}  // namespace tw
