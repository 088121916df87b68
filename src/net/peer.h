#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/received_ids.h"
#include "net/send_channel.h"
#include "transport/socket_address.h"

namespace tw {

inline constexpr SessionTime RESEND_INTERVAL = std::chrono::seconds(2);
inline constexpr SessionTime TIMEOUT_SPAN = std::chrono::seconds(10);
inline constexpr SessionTime PING_INTERVAL = std::chrono::seconds(5);
// A peer that leaves its oldest reliable message unacknowledged this long is gone, however
// much else it sends: fifteen copies have gone unanswered, which even 20 % loss each way
// practically never does to a live peer.
inline constexpr SessionTime UNACKNOWLEDGED_LIMIT = std::chrono::seconds(30);
// Messages one peer may leave unacknowledged (or, while its login waits, have held for it);
// a peer that lets more pile up is timed out rather than any of them dropped, so its
// memory stays bounded (about 360 KB). The longest line anyone may send is a fraction of
// it, so a burst of long lines fits whole.
inline constexpr std::size_t QUEUE_LIMIT = 4096;
// What a session may leave unacknowledged of what the room says and still have its own
// lines taken: room for the pieces of the longest line, a quarter of the queue's bound.
// A session that stops acknowledging (a flood of sessions that never do, say) has its
// further lines left unacknowledged, and its client sends them again every 2 s, until it
// catches up or is timed out: it is held to its own backlog, and no other session's
// backlog, on its host or anywhere, holds back its lines.
inline constexpr std::size_t BACKLOG_BEFORE_HOLD = QUEUE_LIMIT / 4;

// A server's peer is waiting from its login until it acknowledges the login answer, which
// carries an id it could only know by receiving it; then it is confirmed. A client's
// server, and any peer of a client, is confirmed from the start.
enum class PeerState { waiting, confirmed };

inline constexpr SessionTime NEVER = SessionTime::max();

// The times at which the maintenance pass acts on one peer, for each reason it acts for;
// NEVER where a reason does not apply, NEXT_PASS where any pass will do. The pass acts on a
// reason exactly when its reading reaches that reason's time, and the frame loop sleeps
// until the nearest one: both read the same times, so the loop can neither spin while
// nothing is due nor sleep through what is.
struct PeerDue {
    SessionTime time_out = NEVER;  // silence, or an unacknowledged message kept too long
    SessionTime ping = NEVER;
    SessionTime resend = NEVER;  // the first reliable message whose copy is due
    SessionTime flush = NEVER;   // NEXT_PASS while the outbox holds something

    SessionTime nearest() const;
};

// A login the server has answered and waits to hear acknowledged: all that the session
// keeps of it until then, in one record.
struct PendingLogin {
    // The id of the login answer, and the login's reserved field, which its announcement
    // copies.
    std::int32_t answer = 0;
    std::int32_t reserved = 0;
    // What the session queued for the peer meanwhile, sent in order once it confirms. Ids
    // are given then, so the answer's id stays the only one a waiting peer has seen.
    std::vector<NetMessage> held;
};

// Names a peer for as long as it is in the table, however the table shifts around it;
// never given to another peer of the same node.
using PeerHandle = std::uint32_t;

// The session with one remote node, identified by its IPv4 address and port.
struct Peer {
    PeerHandle handle = 0;
    std::string address_text;
    SocketAddress address;
    SendChannel channel;
    // Every time is a reading of the node's clock, never a countdown: a peer made in a
    // frame is charged nothing from before it.
    SessionTime heard_at{0};   // the last datagram from it, or its admission
    SessionTime pinged_at{0};  // the last ping to it, or when its pings started
    float round_trip = 0.0F;
    ReceivedIds received_ids;
    std::string name;
    // Since when the oldest message of the reliable queue has waited for its ack; set by
    // the first pass that finds it waiting.
    std::optional<SessionTime> unacknowledged_since;
    // Its login, while that waits for the ack of its answer.
    std::optional<PendingLogin> pending;

    bool waiting() const { return pending.has_value(); }
    // Messages held for a waiting login.
    std::size_t held_count() const { return pending ? pending->held.size() : 0; }
    // A message for this peer's session: queued, or held while its login waits.
    NetMessage& queue_for_session(bool reliable);
    // Confirmed: what was held goes into the queues in the order it came. The login as it
    // waited, for its announcement.
    PendingLogin confirm(SessionTime now);
    // Removes the first queued message with this id, acknowledged at `now`; true when one
    // was there.
    bool acknowledged(std::int32_t id, SessionTime now);
    // Its lines wait until it has taken what it was sent.
    bool held_back() const { return channel.reliable_queue.size() >= BACKLOG_BEFORE_HOLD; }
    // When the maintenance pass acts on this peer next, and for what, as a pass at `now`
    // would see it.
    PeerDue due(SessionTime now) const;
    // The same but for the resends, which takes a walk of the reliable queue: the pass
    // finds each due copy as it walks the queue to make it.
    PeerDue deadlines(SessionTime now) const;
    // Starts the wait of a reliable queue that has just come to hold something.
    void note_waiting(SessionTime now);
    // Copies every reliable message due at `now` into the outbox; each copy carries how
    // late it is in its resend_timer.
    void schedule_resends(SessionTime now);
};

}  // namespace tw
