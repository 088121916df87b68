#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "net/received_ids.h"
#include "net/send_channel.h"
#include "transport/socket_address.h"

namespace tw {

inline constexpr float RESEND_INTERVAL = 2.0F;
// A peer that leaves its oldest reliable message unacknowledged this long is gone, however
// much else it sends: fifteen copies have gone unanswered, which even 20 % loss each way
// practically never does to a live peer.
inline constexpr float UNACKNOWLEDGED_LIMIT = 30.0F;
// Messages one peer may have waiting; a peer that lets more pile up is timed out rather
// than any of them dropped, so its memory stays bounded (about 90 KB).
inline constexpr std::size_t QUEUE_LIMIT = 1024;

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
    // Seconds the oldest message of the reliable queue has been waiting for its ack.
    float unacknowledged_wait = 0.0F;
    // A server announces a client only once it has acknowledged the login answer, so a
    // host that logs in and never listens costs the others nothing. Until then the peer
    // is sent nothing but that answer.
    bool announced = true;
    std::optional<std::int32_t> login_answer;
    std::int32_t login_reserved = 0;

    // Removes the first queued message with this id; true when one was there.
    bool acknowledged(std::int32_t id);
    // Waited too long for an ack, or let too much pile up: treated as a silent peer.
    bool overdue() const;
    // Counts down the resend timers and copies every due reliable message into the outbox.
    void schedule_resends(float elapsed);
};

}  // namespace tw
