#include <gtest/gtest.h>

#include "net/net_node.h"
#include "node_harness.h"

namespace tw {
namespace {

using test::host;
using test::make_message;
using test::NodeHarness;

TEST(SendChannel, IdsCountAcrossBothQueues) {
    SendChannel channel;
    channel.queue_message(false);
    channel.queue_message(true);
    ASSERT_EQ(channel.outbox.size(), 1U);
    ASSERT_EQ(channel.reliable_queue.size(), 1U);
    EXPECT_EQ(channel.outbox[0].id, 10);
    EXPECT_EQ(channel.reliable_queue[0].id, 11);
    EXPECT_EQ(channel.next_id, 12);
}

TEST(SendChannel, NewMessageIsZeroButForIdAndReliable) {
    SendChannel channel;
    const NetMessage made = channel.queue_message(true);
    NetMessage expected;
    expected.id = 10;
    expected.reliable = 1;
    EXPECT_EQ(made, expected);
    EXPECT_EQ(made.resend_timer, 0.0F);
}

TEST(SendChannel, IdCounterWrapsWithoutOverflow) {
    SendChannel channel;
    channel.next_id = INT32_MAX;
    EXPECT_EQ(channel.queue_message(false).id, INT32_MAX);
    EXPECT_EQ(channel.next_id, INT32_MIN);
}

TEST(PeerTable, RemovingTheMiddlePeerKeepsTheOthersWhole) {
    NetNode node;
    for (const char* text : {"127.0.0.1", "127.0.0.2", "127.0.0.3"}) {
        Peer peer;
        peer.address_text = text;
        test::NodeAccess::peers(node).add(peer);
    }
    test::NodeAccess::peers(node)[2].channel.queue_message(true);
    test::NodeAccess::peers(node)[2].heard_at = std::chrono::seconds(3);
    test::NodeAccess::peers(node).remove(1);
    ASSERT_EQ(node.peers().size(), 2U);
    EXPECT_EQ(node.peers()[0].address_text, "127.0.0.1");
    EXPECT_EQ(node.peers()[1].address_text, "127.0.0.3");
    EXPECT_EQ(node.peers()[1].channel.reliable_queue.size(), 1U);
    EXPECT_EQ(node.peers()[1].channel.next_id, 11);
    EXPECT_EQ(node.peers()[1].heard_at, std::chrono::seconds(3));
    test::NodeAccess::peers(node).remove(7);
    EXPECT_EQ(node.peers().size(), 2U);
}

TEST(PeerTable, ClearEmptiesAndNewNodeStartsBlank) {
    NetNode node;
    EXPECT_EQ(node.ping_clock(), 0.0F);
    EXPECT_FALSE(node.is_server());
    EXPECT_EQ(node.endpoint().use_destination, 0);
    EXPECT_TRUE(node.name().empty());
    EXPECT_TRUE(node.events().empty());
    test::NodeAccess::peers(node).clear();
    EXPECT_TRUE(node.peers().empty());
}

TEST(PeerTable, SameHostFromTwoPortsIsOnePeerWithTheFirstPort) {
    NodeHarness client(false);
    client.deliver(make_message(KIND_LOGIN_ACCEPTED, 10, true, "srv"), host(1, 1210));
    client.deliver(make_message(KIND_CHAT, 11, true, "hi"), host(1, 5555));
    ASSERT_EQ(client.peers().size(), 1U);
    EXPECT_EQ(client.peers()[0].address, host(1, 1210));
    EXPECT_EQ(client.peers()[0].address_text, "127.0.0.1");
}

}  // namespace
}  // namespace tw
