#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/net_node.h"
#include "node_access.h"

namespace tw::test {

// A datagram the node sent, decoded, and where it went (nothing: the connected default).
struct Sent {
    NetMessage message;
    std::optional<SocketAddress> to;
    std::size_t size = 0;
};

// A NetNode whose datagrams are captured instead of sent, driven by hand.
class NodeHarness {
  public:
    explicit NodeHarness(bool server);

    // The message event the datagram made, if it made one.
    std::optional<SessionEvent> deliver(const NetMessage& message, const SocketAddress& from);
    // Sends the outboxes without moving the clock.
    std::vector<Sent> flush();
    // Moves the clock on by `seconds` and runs a pass there.
    void advance(double seconds);
    // Takes what has been captured so far.
    std::vector<Sent> take();
    // The id of the newest login answer sent to `to`, after a pass that sends what waits.
    std::optional<std::int32_t> answer_sent_to(const SocketAddress& to);

    // The node's table, open to tests that set up or break a session by hand.
    PeerTable& peers() { return NodeAccess::peers(node); }

    NetNode node;
    // The reading of the node's clock that the harness gives it.
    SessionTime now{0};
    // What the last delivered datagram changed in who takes part (its last event other
    // than a message).
    std::optional<SessionEvent> event;

  private:
    std::vector<Sent> sent;
};

NetMessage make_message(std::int32_t kind, std::int32_t id, bool reliable,
                        std::string_view text = {});
SocketAddress host(std::uint8_t last_octet, std::uint16_t port = 40000);
std::vector<Sent> of_kind(const std::vector<Sent>& sent, std::int32_t kind);
// The acknowledgement of the login answer waiting for `from`, as its client sends it,
// and the arrival it reports.
std::optional<SessionEvent> confirm(NodeHarness& server, const SocketAddress& from);
// The peer admitted for `name` by a login from `from` and confirmed, with its login
// answers flushed away.
void log_in(NodeHarness& server, const std::string& name, const SocketAddress& from);

}  // namespace tw::test
