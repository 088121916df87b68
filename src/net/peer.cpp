#include "net/peer.h"

#include <algorithm>

namespace tw {

bool Peer::acknowledged(std::int32_t id) {
    auto& queue = channel.reliable_queue;
    const auto found =
        std::find_if(queue.begin(), queue.end(), [id](const NetMessage& m) { return m.id == id; });
    if (found == queue.end()) {
        return false;
    }
    // The next message in line was queued later, so its wait starts over: the limit holds
    // whichever message is oldest, not how long the peer has been owing anything.
    if (found == queue.begin()) {
        unacknowledged_wait = 0.0F;
    }
    queue.erase(found);
    return true;
}

bool Peer::overdue() const {
    return unacknowledged_wait > UNACKNOWLEDGED_LIMIT ||
           channel.reliable_queue.size() + channel.outbox.size() > QUEUE_LIMIT;
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
