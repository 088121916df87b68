#include "net/send_channel.h"

namespace tw {

NetMessage& SendChannel::queue_message(bool reliable) {
    // Built in its place at the end of the queue: a zeroed temporary copied in would
    // write all 88 bytes twice, and this runs once per relay to every peer.
    NetMessage& message =
        reliable ? static_cast<NetMessage&>(reliable_queue.emplace_back()) : outbox.emplace_back();
    message.id = next_id;
    // Ids only identify duplicates; wrapping after four billion messages is harmless.
    next_id = id_step(next_id, 1);
    message.reliable = reliable ? 1 : 0;
    return message;
}

}  // namespace tw
