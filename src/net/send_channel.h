#pragma once

#include <cstdint>
#include <vector>

#include "net/net_message.h"

namespace tw {

inline constexpr std::int32_t FIRST_MESSAGE_ID = 10;

// The two queues of one peer and the id counter they share, so that no two messages to
// that peer ever carry the same id.
struct SendChannel {
    std::vector<NetMessage> reliable_queue;
    std::vector<NetMessage> outbox;
    std::int32_t next_id = FIRST_MESSAGE_ID;

    // Appends a zeroed message with the next id; the reference lasts until that queue changes.
    NetMessage& queue_message(bool reliable);
};

}  // namespace tw
