#include "net/send_channel.h"

namespace tw {

NetMessage& SendChannel::queue_message(bool reliable) {
    NetMessage message;
    message.id = next_id;
    // Ids only identify duplicates; wrapping after two billion messages is harmless
    // but must not be signed overflow.
    next_id = static_cast<std::int32_t>(static_cast<std::uint32_t>(next_id) + 1U);
    message.reliable = reliable ? 1 : 0;
    auto& queue = reliable ? reliable_queue : outbox;
    queue.push_back(message);
    return queue.back();
}

}  // namespace tw
