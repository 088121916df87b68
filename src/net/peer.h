#pragma once

#include <cstdint>
#include <string>

#include "net/received_ids.h"
#include "net/send_channel.h"
#include "transport/socket_address.h"

namespace tw {

inline constexpr float RESEND_INTERVAL = 2.0F;

// The session with one remote node, identified by its IPv4 address text alone.
struct Peer {
    std::string address_text;
    SocketAddress address;
    SendChannel channel;
    float idle_time = 0.0F;
    float ping_timer = 0.0F;
    float round_trip = 0.0F;
    ReceivedIds received_ids;
    std::string name;

    // Counts down the resend timers and copies every due reliable message into the outbox.
    void schedule_resends(float elapsed);
};

}  // namespace tw
