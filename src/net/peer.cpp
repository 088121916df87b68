#include "net/peer.h"

#include <algorithm>

namespace tw {

NetMessage& Peer::queue_for_session(bool reliable) {
    if (!waiting()) {
        return channel.queue_message(reliable);
    }
    NetMessage& message = held.emplace_back();
    message.reliable = reliable ? 1 : 0;
    return message;
}

void Peer::confirm() {
    state = PeerState::confirmed;
    for (const NetMessage& kept : held) {
        NetMessage& message = channel.queue_message(kept.reliable != 0);
        message.kind = kept.kind;
        message.length = kept.length;
        message.reserved = kept.reserved;
        message.text = kept.text;
    }
    held.clear();
    held.shrink_to_fit();
}

bool Peer::acknowledged(std::int32_t id) {
    auto& queue = channel.reliable_queue;
    const auto found =
        std::find_if(queue.begin(), queue.end(), [id](const NetMessage& m) { return m.id == id; });
    if (found == queue.end()) {
        return false;
    }
    // Only the oldest message's wait is kept. When it is acknowledged the next one's wait
    // is counted from now: a peer that acknowledges is never cut short, and one that
    // acknowledges nothing is dropped 30 s after its first unanswered message.
    if (found == queue.begin()) {
        unacknowledged_wait = 0.0F;
    }
    queue.erase(found);
    return true;
}

bool Peer::overdue() const {
    // Resend copies in the outbox are not counted: a long line sent in many pieces makes
    // as many copies at once, and they leave with the next pass.
    return unacknowledged_wait > UNACKNOWLEDGED_LIMIT ||
           channel.reliable_queue.size() + held.size() > QUEUE_LIMIT;
}

void Peer::schedule_resends(float elapsed) {
    // queue_message appends to the outbox only, so walking the reliable queue by index
    // stays valid while copies are made.
    for (std::size_t i = 0; i < channel.reliable_queue.size(); ++i) {
        NetMessage& message = channel.reliable_queue[i];
        message.resend_timer -= elapsed;
        if (message.resend_timer <= 0.0F) {
            const NetMessage copy = message;
            channel.queue_message(false) = copy;
            channel.reliable_queue[i].resend_timer = RESEND_INTERVAL;
        }
    }
}

}  // namespace tw
