// Writes a pcap of a whole chat session as the session layer itself encodes it: one server
// and three clients on 127.0.0.x, joined through an in-memory network, every datagram
// captured as an IPv4/UDP packet. It needs no capture rights and no real time, and every
// kind a node sends appears at least once:
//   alice and bob log in, alice chats and changes her name, everyone pings, bob falls
//   silent and times out, carol joins and leaves.
//
// Usage: session_capture OUT.pcap

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <fstream>
#include <optional>
#include <span>
#include <vector>

#include "net/net_node.h"

namespace {

using tw::NetNode;
using tw::SocketAddress;

constexpr std::uint16_t CHAT_PORT = 1210;
constexpr float FRAME_SECONDS = 0.25F;

struct Datagram {
    SocketAddress from;
    SocketAddress to;
    tw::WireRecord bytes;
};

class PcapWriter {
  public:
    explicit PcapWriter(const char* path) : out(path, std::ios::binary) {
        put32(0xA1B2C3D4U);  // microsecond time stamps
        put16(2);
        put16(4);
        put32(0);
        put32(0);
        put32(65535);
        put32(101);  // LINKTYPE_RAW: each packet starts with its IPv4 header
    }

    bool good() const { return out.good(); }

    void write(const Datagram& datagram, double seconds) {
        constexpr std::uint16_t ip_size = 20 + 8 + tw::MESSAGE_SIZE;
        const auto whole = static_cast<std::uint32_t>(seconds);
        put32(whole);
        put32(static_cast<std::uint32_t>((seconds - whole) * 1e6));
        put32(ip_size);
        put32(ip_size);
        write_ip_header(datagram, ip_size);
        put16be(datagram.from.port);
        put16be(datagram.to.port);
        put16be(ip_size - 20);
        put16be(0);  // no UDP checksum, as IPv4 allows
        for (const std::uint8_t byte : datagram.bytes) {
            put_byte(byte);
        }
    }

  private:
    void write_ip_header(const Datagram& datagram, std::uint16_t ip_size) {
        std::array<std::uint16_t, 10> words{0x4500,
                                            ip_size,
                                            0,
                                            0x4000,
                                            0x4011,
                                            0,
                                            static_cast<std::uint16_t>(datagram.from.ip >> 16U),
                                            static_cast<std::uint16_t>(datagram.from.ip),
                                            static_cast<std::uint16_t>(datagram.to.ip >> 16U),
                                            static_cast<std::uint16_t>(datagram.to.ip)};
        std::uint32_t sum = 0;
        for (const std::uint16_t word : words) {
            sum += word;
        }
        while (sum > 0xFFFFU) {
            sum = (sum & 0xFFFFU) + (sum >> 16U);
        }
        words[5] = static_cast<std::uint16_t>(~sum);
        for (const std::uint16_t word : words) {
            put16be(word);
        }
    }

    void put_byte(unsigned value) { out.put(static_cast<char>(value & 0xFFU)); }
    void put16(std::uint16_t value) {
        put_byte(value);
        put_byte(value >> 8U);
    }
    void put32(std::uint32_t value) {
        put16(static_cast<std::uint16_t>(value));
        put16(static_cast<std::uint16_t>(value >> 16U));
    }
    void put16be(unsigned value) {
        put_byte(value >> 8U);
        put_byte(value);
    }

    std::ofstream out;
};

// The nodes and the wire between them. A node's datagrams without an address go to the
// server, as a client's connected socket sends them.
class Network {
  public:
    explicit Network(PcapWriter& capture) : pcap(capture) {}

    void add(NetNode& node, SocketAddress address) {
        nodes.push_back({&node, address});
        node.set_transmitter(
            [this, address](std::span<const std::uint8_t> bytes, std::optional<SocketAddress> to) {
                Datagram datagram{address, to.value_or(nodes.front().address), {}};
                std::copy(bytes.begin(), bytes.end(), datagram.bytes.begin());
                pcap.write(datagram, seconds);
                in_flight.push_back(datagram);
                return true;
            });
    }

    // Runs frames for `duration` simulated seconds; datagrams from or to `silent` are
    // captured but never arrive.
    void run(float duration, std::optional<SocketAddress> silent = std::nullopt) {
        for (float left = duration; left > 0.0F; left -= FRAME_SECONDS) {
            seconds += FRAME_SECONDS;
            for (const Member& member : nodes) {
                member.node->maintain(tw::from_seconds(seconds));
            }
            deliver(silent);
        }
    }

    void deliver(std::optional<SocketAddress> silent = std::nullopt) {
        // Bounded: each pass answers at most what arrived, and the session answers only
        // reliable messages and pings.
        for (int pass = 0; pass < 1000 && !in_flight.empty(); ++pass) {
            const Datagram datagram = in_flight.front();
            in_flight.pop_front();
            if (silent && (datagram.from == *silent || datagram.to == *silent)) {
                continue;
            }
            for (const Member& member : nodes) {
                if (member.address == datagram.to) {
                    member.node->dispatch(datagram.bytes, datagram.from, tw::from_seconds(seconds));
                }
            }
        }
    }

  private:
    struct Member {
        NetNode* node;
        SocketAddress address;
    };

    PcapWriter& pcap;
    std::vector<Member> nodes;
    std::deque<Datagram> in_flight;
    double seconds = 1.0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: session_capture OUT.pcap\n");
        return 2;
    }
    PcapWriter pcap{argv[1]};
    Network network{pcap};
    NetNode server{tw::NodeRole::server};
    NetNode alice;
    NetNode bob;
    NetNode carol;
    server.change_name("hub");
    alice.change_name("alice");
    carol.change_name("carol");
    network.add(server, {tw::ipv4(127, 0, 0, 1), CHAT_PORT});
    network.add(alice, {tw::ipv4(127, 0, 0, 2), 40002});
    const SocketAddress bob_address{tw::ipv4(127, 0, 0, 3), 40003};
    network.add(bob, bob_address);
    network.add(carol, {tw::ipv4(127, 0, 0, 4), 40004});

    alice.send_login("alice");
    network.run(1.0F);
    bob.send_login("bob");
    network.run(1.0F);
    alice.broadcast_chat("hello bob", true);
    network.run(1.0F);
    alice.change_name("alicia");
    network.run(3.0F);  // past the ping interval
    network.run(11.0F, bob_address);
    carol.send_login("carol");
    network.run(1.0F);
    carol.broadcast_logout();
    network.run(1.0F);

    if (!pcap.good()) {
        std::fprintf(stderr, "session_capture: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
