#include "net/peer.h"

namespace tw {

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
