#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/net_node.h"

namespace tw::bench {

// A typical chat line: longer than the 15 characters std::string keeps without the heap,
// so every place that copies it into a string shows up in the allocation counts.
inline constexpr const char* CHAT_LINE = "did anyone see the build go green";

// The address of simulated host `index` (0-based), each its own IPv4 address, as a
// server would see its clients; no socket is involved.
SocketAddress simulated_host(std::size_t index);

// Gives a server node (made with NodeRole::server) `peers` logged-in peers named "user0",
// "user1"... and every queue empty, whose datagrams go nowhere: the session layer's own cost,
// without a socket.
void admit_peers(NetNode& server, std::size_t peers);

// Empties every queue and the event list without giving up their storage, as
// acknowledgements, passes and the application would in a running session.
void clear_queues(NetNode& node);

// A reliable chat line as a client sends it, with message id `id`.
WireRecord chat_record(std::int32_t id, const std::string& line = CHAT_LINE);

}  // namespace tw::bench
