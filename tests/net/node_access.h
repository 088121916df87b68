#pragma once

#include "net/net_node.h"

namespace tw::test {

// The one way into a node's own table and socket, for tests and benchmarks that set up
// or break a session by hand; the application reads them only.
struct NodeAccess {
    static PeerTable& peers(NetNode& node) { return node.peer_table; }
    static SocketEndpoint& endpoint(NetNode& node) { return node.socket_endpoint; }
};

}  // namespace tw::test
