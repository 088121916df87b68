#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "net/net_message.h"
#include "transport/session_time.h"

namespace tw {

inline constexpr std::int32_t FIRST_MESSAGE_ID = 10;
// The due time of a reliable message never copied yet: whatever pass comes next. The
// message is charged no time from before that pass, however long ago the last one ran.
inline constexpr SessionTime NEXT_PASS = SessionTime::min();

// A reliable message as it waits for its ack, with the time its next copy is due.
struct QueuedMessage : NetMessage {
    SessionTime due_at = NEXT_PASS;
};

// The two queues of one peer and the id counter they share, so that no two messages to
// that peer ever carry the same id.
struct SendChannel {
    std::vector<QueuedMessage> reliable_queue;
    std::vector<NetMessage> outbox;
    std::int32_t next_id = FIRST_MESSAGE_ID;

    // Appends a zeroed message with the next id; the reference lasts until that queue changes.
    NetMessage& queue_message(bool reliable);
};

}  // namespace tw
