#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "lossy_link.h"
#include "relayed_chat.h"

namespace tw {
namespace {

using test::LinkFaults;
using test::LossyLink;

// Every socket here takes a port of the system's choosing, so cases may run at once.
constexpr std::uint8_t BLOCK = 60;
constexpr std::uint32_t SERVER_IP = ipv4(127, BLOCK, 0, 1);
constexpr std::uint32_t RELAY_IP = ipv4(127, BLOCK, 0, 2);
constexpr std::uint32_t FIRST_ROUTE = ipv4(127, BLOCK, 2, 1);

struct Arrival {
    std::int32_t id = 0;
    SocketAddress source;
};

// A bare socket on its own loopback address, sending numbered records.
class Station {
  public:
    explicit Station(std::uint32_t ip) {
        endpoint.set_local_ip(ip);
        endpoint.open_socket(false);
        bound = endpoint.bind_port(0);
    }

    void send(std::int32_t id, const SocketAddress& to) {
        NetMessage message;
        message.id = id;
        message.kind = KIND_PING;
        message.length = 1;
        endpoint.set_destination(to);
        endpoint.send_raw(message.encode());
    }

    // At least `expected` datagrams (each waited for up to a second), and whatever else
    // is waiting by then.
    std::vector<Arrival> take(std::size_t expected) {
        std::vector<Arrival> got;
        std::array<std::uint8_t, RECEIVE_BUFFER_SIZE> buffer{};
        for (std::size_t turn = 0; turn < 100000; ++turn) {
            const auto datagram = endpoint.receive_from(buffer);
            if (!datagram) {
                if (got.size() >= expected || !endpoint.wait_readable(1000)) {
                    break;
                }
                continue;
            }
            const auto message = NetMessage::decode(std::span(buffer.data(), datagram->size));
            got.push_back(Arrival{message ? message->id : -1, datagram->source});
        }
        return got;
    }

    SocketAddress address() const { return endpoint.local_address().value_or(SocketAddress{}); }

    SocketEndpoint endpoint;
    bool bound = false;
};

std::vector<std::int32_t> ids_of(const std::vector<Arrival>& arrivals) {
    std::vector<std::int32_t> ids;
    for (const Arrival& arrival : arrivals) {
        ids.push_back(arrival.id);
    }
    return ids;
}

class LossyLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.bound);
        ASSERT_TRUE(ann.bound);
        ASSERT_TRUE(bob.bound);
        ASSERT_TRUE(link.is_open());
    }

    // Sends `count` records from `from`, one pump per record so the link sees them in
    // order, and returns what the server received. The server reads as they come: a
    // socket holds only a few hundred small datagrams.
    std::vector<Arrival> through(Station& from, int count) {
        std::vector<Arrival> got;
        for (int i = 0; i < count; ++i) {
            from.send(i, relay);
            link.pump(0.0);
            const std::size_t expected = link.counters().forwarded - got.size();
            const auto fresh = server.take(expected);
            got.insert(got.end(), fresh.begin(), fresh.end());
        }
        return got;
    }

    Station server{SERVER_IP};
    Station ann{ipv4(127, BLOCK, 1, 1)};
    Station bob{ipv4(127, BLOCK, 1, 2)};
    LossyLink link{SocketAddress{RELAY_IP, 0}, server.address(), FIRST_ROUTE, 7};
    SocketAddress relay = link.address();
};

TEST_F(LossyLinkTest, CleanLinkKeepsEachClientOnItsOwnAddressBothWays) {
    ann.send(1, relay);
    bob.send(2, relay);
    link.pump(0.0);
    const auto at_server = server.take(2);
    ASSERT_EQ(at_server.size(), 2U);
    EXPECT_EQ(at_server[0].source.ip, FIRST_ROUTE);
    EXPECT_EQ(at_server[1].source.ip, FIRST_ROUTE + 1);
    EXPECT_EQ(link.routes(), 2U);

    // Replies go back through the route the client came by and leave from the relay.
    server.send(3, at_server[1].source);
    server.send(4, at_server[0].source);
    link.pump(0.0);
    const auto at_bob = bob.take(1);
    const auto at_ann = ann.take(1);
    ASSERT_EQ(at_bob.size(), 1U);
    ASSERT_EQ(at_ann.size(), 1U);
    EXPECT_EQ(at_bob[0].id, 3);
    EXPECT_EQ(at_ann[0].id, 4);
    EXPECT_EQ(at_ann[0].source, relay);
    EXPECT_EQ(link.counters().forwarded, 4U);
    EXPECT_EQ(link.counters().dropped, 0U);
}

TEST_F(LossyLinkTest, CleanLinkKeepsOrder) {
    const auto got = through(ann, 50);
    std::vector<std::int32_t> expected(50);
    for (int i = 0; i < 50; ++i) {
        expected[static_cast<std::size_t>(i)] = i;
    }
    EXPECT_EQ(ids_of(got), expected);
}

TEST_F(LossyLinkTest, LossDropsAboutItsShare) {
    link.set_faults(LinkFaults{0.3, 0.0, 0.0, 0.0});
    const auto got = through(ann, 1000);
    EXPECT_EQ(got.size(), 1000U - link.counters().dropped);
    EXPECT_GT(link.counters().dropped, 240U);
    EXPECT_LT(link.counters().dropped, 360U);
}

TEST_F(LossyLinkTest, DuplicationSendsBothCopies) {
    link.set_faults(LinkFaults{0.0, 1.0, 0.0, 0.0});
    const auto got = through(ann, 20);
    ASSERT_EQ(got.size(), 40U);
    for (std::int32_t i = 0; i < 20; ++i) {
        EXPECT_EQ(
            std::count_if(got.begin(), got.end(), [&](const Arrival& a) { return a.id == i; }), 2)
            << "record " << i;
    }
}

TEST_F(LossyLinkTest, HeldBackCopiesWaitForSimulatedTimeAndAreOvertaken) {
    link.set_faults(LinkFaults{0.0, 0.0, 1.0, 0.05});
    for (int i = 0; i < 40; ++i) {
        ann.send(i, relay);
        link.pump(0.0);
    }
    // Held copies leave only when the simulated clock has passed their time.
    EXPECT_LE(link.counters().forwarded, 1U);
    link.pump(0.05);
    EXPECT_EQ(link.held(), 0U);
    const auto got = ids_of(server.take(40));
    ASSERT_EQ(got.size(), 40U);
    EXPECT_FALSE(std::is_sorted(got.begin(), got.end()));
    auto sorted = got;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "no copy made";
}

TEST(LossyLinkSeed, SameSeedSameFate) {
    // Two links with one seed, fed the same records, do the same to each. (Compared as
    // sets: the order in which loopback hands datagrams over is the system's business.)
    std::vector<std::vector<std::int32_t>> passed;
    std::vector<std::vector<std::uint64_t>> fates;
    for (int run = 0; run < 2; ++run) {
        Station server{SERVER_IP};
        Station ann{ipv4(127, BLOCK, 1, 1)};
        LossyLink link{SocketAddress{RELAY_IP, 0}, server.address(), FIRST_ROUTE, 99};
        ASSERT_TRUE(link.is_open());
        link.set_faults(LinkFaults{0.5, 0.1, 0.1, 0.05});
        for (int i = 0; i < 200; ++i) {
            ann.send(i, link.address());
            link.pump(0.01);
        }
        link.pump(1.0);
        auto ids = ids_of(server.take(link.counters().forwarded));
        std::sort(ids.begin(), ids.end());
        passed.push_back(ids);
        const auto& counted = link.counters();
        fates.push_back({counted.dropped, counted.duplicated, counted.held_back});
    }
    EXPECT_GT(passed[0].size(), 60U);
    EXPECT_LT(passed[0].size(), 160U);
    EXPECT_EQ(passed[0], passed[1]);
    EXPECT_EQ(fates[0], fates[1]);
}

}  // namespace
}  // namespace tw
