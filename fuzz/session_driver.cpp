#include "session_driver.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "net/net_node.h"

namespace tw::fuzz {

namespace {

void require(bool holds, const char* rule) {
    if (!holds) {
        std::fprintf(stderr, "broken rule: %s\n", rule);
        std::abort();
    }
}

// Takes operands from the front of the input; past its end every operand reads as zero,
// so any prefix of an input is itself a valid input.
class InputReader {
  public:
    explicit InputReader(std::span<const std::uint8_t> input) : rest(input) {}

    bool empty() const { return rest.empty(); }

    std::uint8_t byte() {
        if (rest.empty()) {
            return 0;
        }
        const std::uint8_t value = rest.front();
        rest = rest.subspan(1);
        return value;
    }

    std::uint32_t u32() {
        std::uint32_t value = 0;
        for (unsigned shift = 0; shift < 32; shift += 8) {
            value |= std::uint32_t{byte()} << shift;
        }
        return value;
    }

    std::int32_t i32() { return std::bit_cast<std::int32_t>(u32()); }

    std::span<const std::uint8_t> bytes(std::size_t count) {
        const std::size_t taken = std::min(count, rest.size());
        const auto front = rest.first(taken);
        rest = rest.subspan(taken);
        return front;
    }

    std::string text(std::size_t count) {
        const auto front = bytes(count);
        return std::string(front.begin(), front.end());
    }

  private:
    std::span<const std::uint8_t> rest;
};

SocketAddress source_of(std::uint8_t selector) {
    const auto host = static_cast<std::uint8_t>(1U + selector % SOURCE_HOSTS);
    const auto port = static_cast<std::uint16_t>(40000U + (selector / SOURCE_HOSTS) % SOURCE_PORTS);
    return SocketAddress{ipv4(127, 0, 0, host), port};
}

// Mostly whole records; now and then a size the receiver must refuse or cut.
std::size_t datagram_size(std::uint8_t selector) {
    constexpr std::array<std::size_t, 8> odd_sizes{0, 1, 24, 87, 89, 100, 512, RECEIVE_BUFFER_SIZE};
    return selector < 200 ? MESSAGE_SIZE : odd_sizes[selector % odd_sizes.size()];
}

// Frame times as the frame timer makes them: never negative, always finite, sometimes
// right on a threshold, sometimes a long stall.
float elapsed_of(InputReader& in) {
    constexpr std::array<float, 14> chosen{0.0F, 0.001F, 0.01F,  0.016F, 0.1F,    0.5F,  1.0F,
                                           2.0F, 5.0F,   5.001F, 10.0F,  10.001F, 60.0F, 1.0e6F};
    const std::uint8_t selector = in.byte();
    if (selector < 240) {
        return chosen[selector % chosen.size()];
    }
    return static_cast<float>(in.u32()) / 1000.0F;
}

std::int32_t kind_of(InputReader& in) {
    const std::uint8_t selector = in.byte();
    // 101 to 115 covers every kind, the unused 106 and one past the table.
    return selector < 240 ? KIND_CHAT + selector % 15 : in.i32();
}

std::int32_t id_of(InputReader& in) {
    const std::uint8_t selector = in.byte();
    if (selector < 224) {
        // Few distinct small ids, so that duplicates and matching acks are common.
        return FIRST_MESSAGE_ID + selector % 32;
    }
    return selector < 240 ? 0 : in.i32();
}

std::int32_t length_of(InputReader& in, std::size_t text_size) {
    constexpr std::array<std::int32_t, 13> chosen{0,
                                                  1,
                                                  13,
                                                  14,
                                                  49,
                                                  50,
                                                  63,
                                                  64,
                                                  65,
                                                  -1,
                                                  std::numeric_limits<std::int32_t>::min(),
                                                  std::numeric_limits<std::int32_t>::max(),
                                                  8000};
    const std::uint8_t selector = in.byte();
    if (selector < 128) {
        return static_cast<std::int32_t>(text_size);
    }
    return selector < 250 ? chosen[selector % chosen.size()] : in.i32();
}

NetMessage message_of(InputReader& in) {
    NetMessage message;
    message.kind = kind_of(in);
    message.id = id_of(in);
    const std::uint8_t flags = in.byte();
    message.reliable = (flags & 3U) == 3U ? in.byte() : static_cast<std::uint8_t>(flags & 1U);
    if ((flags & 4U) != 0) {
        message.reserved = in.i32();
    }
    const auto text = in.bytes(in.byte() % (TEXT_SIZE + 1));
    std::copy(text.begin(), text.end(), message.text.begin());
    if (message.kind == KIND_ACK && (flags & 8U) != 0) {
        put_i32(message.text, FIRST_MESSAGE_ID + in.byte() % 64);
    }
    message.length = length_of(in, text.size());
    return message;
}

bool all_zero(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

bool has_zero(std::span<const std::uint8_t> bytes) {
    return std::any_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// Whatever the node was fed, what it sends is a well-formed record.
void check_sent(const NetNode& node, bool server, std::span<const std::uint8_t> datagram,
                const std::optional<SocketAddress>& to) {
    require(datagram.size() == MESSAGE_SIZE, "every datagram sent is exactly 88 bytes");
    const auto decoded = NetMessage::decode(datagram);
    require(decoded.has_value(), "every datagram sent decodes");
    const NetMessage& message = *decoded;
    require(all_zero(datagram.subspan(9, 3)), "padding is zero");
    require(message.reliable <= 1, "reliable is 0 or 1");
    const bool login = message.kind == KIND_LOGIN && message.id == 0;
    const bool to_peer = to && std::any_of(node.peers().begin(), node.peers().end(),
                                           [&](const Peer& peer) { return peer.address == *to; });
    // What goes to an address without a session has no session's id: a login answer's is
    // its cookie, a logout that says "no session" echoes the id it answers (the address
    // may have logged in by the time it leaves), and one that refuses a login has none.
    const bool unattached = (message.kind == KIND_LOGIN_ACCEPTED && message.id > 0) ||
                            (server && message.kind == KIND_LOGOUT);
    require(login || unattached || message.id >= FIRST_MESSAGE_ID,
            "ids start at 10 (the driver's first ids)");
    const std::span<const std::uint8_t> text(message.text);
    switch (message.kind) {
        case KIND_CHAT:
        case KIND_LOGIN:
        case KIND_LOGIN_ACCEPTED:
        case KIND_PEER_LOGGED_IN:
        case KIND_NICK_CHANGE:
        case KIND_NICK_NOTICE:
        case KIND_LOGOUT:
        case KIND_PEER_LOGGED_OUT:
        case KIND_PEER_TIMED_OUT:
            require(message.length >= 0 && static_cast<std::size_t>(message.length) <= TEXT_SIZE,
                    "a text's length lies within the area");
            require(all_zero(text.subspan(static_cast<std::size_t>(message.length))),
                    "nothing follows a text");
            break;
        case KIND_CHAT_RELAY:
            require(has_zero(text.first(RELAY_LINE_OFFSET)), "a relayed name fits its slot");
            require(has_zero(text.subspan(RELAY_LINE_OFFSET)), "a relayed line fits its slot");
            break;
        case KIND_ACK:
        case KIND_PING:
            require(message.length == 1, "acks and pings carry length 1");
            require(all_zero(text.subspan(4)), "acks and pings carry four bytes");
            break;
        case KIND_PONG:
            break;
        default:
            require(false, "only kinds of the table are sent");
    }
    if (server && !login && !unattached) {
        require(to.has_value(), "a server addresses every datagram");
        require(to_peer, "a server sends only to the address of a peer in its table");
    }
    if (!server) {
        require(!to.has_value(), "a client sends only to its connected server");
    }
}

void check_delivery(const NetNode& node, const SessionEvent& delivery) {
    const NetMessage& message = delivery.message;
    require(message.length > 0, "only positive lengths are delivered");
    require(!delivery.peer || node.peer(*delivery.peer) != nullptr,
            "a delivered sender is in the table");
    require(read_text(message).size() <= TEXT_SIZE, "a delivered text fits the area");
    require(read_text_at(message.text, RELAY_LINE_OFFSET).size() <= RELAY_LINE_MAX + 1,
            "a relayed line is read within the area");
}

void check_node(NetNode& node) {
    require(node.peers().size() <= SOURCE_HOSTS * SOURCE_PORTS, "one peer per address");
    std::set<std::pair<std::uint32_t, std::uint16_t>> addresses;
    for (const Peer& peer : node.peers()) {
        require(addresses.insert({peer.address.ip, peer.address.port}).second,
                "no address has two peers");
        require(peer.address_text == address_text(peer.address.ip), "a peer's text is its address");
        require(peer.name.size() <= TEXT_SIZE, "a peer's name fits the area");
    }
    for (const SessionEvent& event : node.events()) {
        require(event.name.size() <= TEXT_SIZE && event.earlier_name.size() <= TEXT_SIZE,
                "an event's names fit the area");
    }
    // The application takes the events every frame; so does this driver.
    static_cast<void>(node.take_events());
    const auto due = node.time_until_due(node.last_reading());
    require(!due || *due >= SessionTime{0}, "the next due time is not behind");
    require(std::isfinite(node.ping_clock()), "the ping's clock stays finite");
    // Nobody asked this node to connect, so it has no server to go back to: a thread of
    // its own would make the run depend on the machine's resolver and outlive the input.
    require(node.endpoint().connect_threads_started == 0, "no connect that was not asked for");
}

void dispatch(NetNode& node, std::span<const std::uint8_t> datagram, const SocketAddress& from) {
    const std::size_t before = node.events().size();
    node.dispatch(datagram, from, node.last_reading());
    for (std::size_t i = before; i < node.events().size(); ++i) {
        if (node.events()[i].what == SessionEvent::What::message) {
            check_delivery(node, node.events()[i]);
        }
    }
}

}  // namespace

void run_session(std::span<const std::uint8_t> input, bool server) {
    NetNode node(server ? NodeRole::server : NodeRole::client);
    // Fixed first ids, so that a run repeats exactly and the small ids of the input can
    // acknowledge login answers.
    node.set_id_source([] { return FIRST_MESSAGE_ID; });
    node.set_transmitter(
        [&node, server](std::span<const std::uint8_t> datagram, std::optional<SocketAddress> to) {
            check_sent(node, server, datagram, to);
            return true;
        });

    InputReader in(input);
    while (!in.empty()) {
        switch (static_cast<Op>(in.byte() % OP_COUNT)) {
            case Op::raw_datagram: {
                const SocketAddress from = source_of(in.byte());
                std::vector<std::uint8_t> datagram(datagram_size(in.byte()), 0);
                const auto given = in.bytes(datagram.size());
                std::copy(given.begin(), given.end(), datagram.begin());
                dispatch(node, datagram, from);
                break;
            }
            case Op::message: {
                const SocketAddress from = source_of(in.byte());
                const WireRecord record = message_of(in).encode();
                dispatch(node, record, from);
                break;
            }
            case Op::maintain:
                node.maintain(node.last_reading() + from_seconds(elapsed_of(in)));
                break;
            case Op::chat: {
                const bool reliable = (in.byte() & 1U) != 0;
                node.broadcast_chat(in.text(in.byte()), reliable);
                break;
            }
            case Op::rename:
                node.change_name(in.text(in.byte()));
                break;
            case Op::logout:
                node.broadcast_logout();
                break;
            case Op::login:
                node.send_login(in.text(in.byte()));
                break;
        }
        check_node(node);
    }
    // The last pass sends whatever is still queued, as at shut-down.
    node.maintain(node.last_reading());
}

}  // namespace tw::fuzz
