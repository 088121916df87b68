#include "node_harness.h"

#include <algorithm>

namespace tw::test {

NodeHarness::NodeHarness(bool server) : node(server ? NodeRole::server : NodeRole::client) {
    node.set_transmitter(
        [this](std::span<const std::uint8_t> datagram, std::optional<SocketAddress> to) {
            auto message = NetMessage::decode(datagram);
            sent.push_back(Sent{message.value_or(NetMessage{}), to, datagram.size()});
            return true;
        });
}

std::optional<SessionEvent> NodeHarness::deliver(const NetMessage& message,
                                                 const SocketAddress& from) {
    const WireRecord record = message.encode();
    const std::size_t events_before = node.events().size();
    node.dispatch(record, from, now);
    event.reset();
    std::optional<SessionEvent> delivered;
    for (std::size_t i = events_before; i < node.events().size(); ++i) {
        const SessionEvent& made = node.events()[i];
        (made.what == SessionEvent::What::message ? delivered : event) = made;
    }
    return delivered;
}

std::vector<Sent> NodeHarness::flush() {
    node.maintain(now);
    return take();
}

void NodeHarness::advance(double seconds) {
    now += from_seconds(seconds);
    node.maintain(now);
}

std::vector<Sent> NodeHarness::take() {
    std::vector<Sent> taken;
    taken.swap(sent);
    return taken;
}

NetMessage make_message(std::int32_t kind, std::int32_t id, bool reliable, std::string_view text) {
    NetMessage message;
    message.kind = kind;
    message.id = id;
    message.reliable = reliable ? 1 : 0;
    set_text(message, text);
    return message;
}

SocketAddress host(std::uint8_t last_octet, std::uint16_t port) {
    return SocketAddress{ipv4(127, 0, 0, last_octet), port};
}

std::vector<Sent> of_kind(const std::vector<Sent>& sent, std::int32_t kind) {
    std::vector<Sent> matching;
    std::copy_if(sent.begin(), sent.end(), std::back_inserter(matching),
                 [&](const Sent& s) { return s.message.kind == kind; });
    return matching;
}

std::optional<std::int32_t> NodeHarness::answer_sent_to(const SocketAddress& to) {
    node.maintain(now);
    for (auto sent_one = sent.rbegin(); sent_one != sent.rend(); ++sent_one) {
        if (sent_one->to == to && sent_one->message.kind == KIND_LOGIN_ACCEPTED) {
            return sent_one->message.id;
        }
    }
    return std::nullopt;
}

std::optional<SessionEvent> confirm(NodeHarness& server, const SocketAddress& from) {
    const auto position = server.node.find_peer(from);
    const bool waits = position && server.peers()[*position].waiting();
    // A login answered without a session is acknowledged by the id it was sent.
    const auto answer =
        waits ? server.peers()[*position].pending->answer : server.answer_sent_to(from);
    if (!answer) {
        return std::nullopt;
    }
    NetMessage ack = make_message(KIND_ACK, 10, false);
    ack.length = 1;
    put_i32(ack.text, *answer);
    server.deliver(ack, from);
    return server.event;
}

void log_in(NodeHarness& server, const std::string& name, const SocketAddress& from) {
    server.deliver(make_message(KIND_LOGIN, 0, true, name), from);
    confirm(server, from);
    server.flush();
}

}  // namespace tw::test
