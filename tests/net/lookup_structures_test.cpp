#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "net/net_node.h"
#include "net/received_ids.h"
#include "transport/socket_address.h"

namespace tw {
namespace {

// The duplicate check must answer exactly as an ordered map of ids with mark 1
// would, whatever order the ids come in: rising as a sender's do, repeated as
// resends are, scattered as a broken sender's may be, and across the wrap from
// INT32_MAX to INT32_MIN.
class ReceivedIdsAgreeWithAMap : public ::testing::Test {
  protected:
    void enter(std::int32_t id) {
        const bool fresh = ids.remember(id);
        const bool expected_fresh = reference.try_emplace(id, 1U).second;
        ASSERT_EQ(fresh, expected_fresh) << "id " << id;
        ASSERT_EQ(ids.size(), reference.size());
    }
    void check(std::int32_t id) const {
        EXPECT_EQ(ids.count(id), reference.count(id)) << "id " << id;
        EXPECT_EQ(ids.contains(id), reference.count(id) == 1) << "id " << id;
    }

    ReceivedIds ids;
    std::map<std::int32_t, std::uint32_t> reference;
};

TEST_F(ReceivedIdsAgreeWithAMap, RisingIdsWithResendsAndGaps) {
    for (std::int32_t id = 10; id < 3000; id += 3) {
        enter(id);
        enter(id);  // the resend copy of the same message
        if (id % 7 == 0) {
            enter(id - 30);  // a late copy of an older message
        }
    }
    for (std::int32_t id = 0; id < 3100; ++id) {
        check(id);
    }
}

TEST_F(ReceivedIdsAgreeWithAMap, ScatteredAndExtremeIds) {
    std::mt19937 random(7);
    std::vector<std::int32_t> entered = {INT32_MIN, INT32_MAX, -1, 0, 63, 64, -64, -65};
    for (int i = 0; i < 2000; ++i) {
        entered.push_back(static_cast<std::int32_t>(random()));
    }
    for (const std::int32_t id : entered) {
        enter(id);
    }
    for (const std::int32_t id : entered) {
        check(id);
        check(static_cast<std::int32_t>(static_cast<std::uint32_t>(id) + 1U));
        check(static_cast<std::int32_t>(static_cast<std::uint32_t>(id) - 1U));
        enter(id);  // every second copy is a duplicate
    }
}

TEST_F(ReceivedIdsAgreeWithAMap, WrapFromLargestToSmallestId) {
    for (std::int64_t id = INT32_MAX - 100; id <= std::int64_t{INT32_MAX} + 100; ++id) {
        enter(static_cast<std::int32_t>(static_cast<std::uint32_t>(id)));
    }
    check(INT32_MAX);
    check(INT32_MIN);
    check(INT32_MIN + 99);
    check(INT32_MIN + 100);
    check(INT32_MAX - 101);
}

TEST(ReceivedIds, MarksSetByHandEnterAndForgetIds) {
    ReceivedIds ids;
    ids[10] = 1;
    EXPECT_EQ(ids.count(10), 1U);
    EXPECT_EQ(static_cast<std::uint32_t>(ids[10]), 1U);
    EXPECT_FALSE(ids.remember(10)) << "an id marked by hand is a duplicate";
    ids[10] = 0;
    EXPECT_EQ(ids.count(10), 0U);
    EXPECT_TRUE(ids.empty());
    EXPECT_TRUE(ids.remember(10)) << "a forgotten id is new again";
    const ReceivedIds copy = ids;
    EXPECT_EQ(copy.count(10), 1U) << "a copied peer keeps its remembered ids";
}

// The peer lookup compares the dotted text, so it must be exactly the text the
// library conversion makes: no leading zeros, every octet from 0 to 255.
TEST(AddressText, MatchesTheDecimalTextOfEveryOctet) {
    for (std::uint32_t octet = 0; octet < 256; ++octet) {
        const auto b = static_cast<std::uint8_t>(octet);
        const std::string expected = std::to_string(octet) + "." + std::to_string(255 - octet) +
                                     ".0." + std::to_string(octet);
        const auto other = static_cast<std::uint8_t>(255 - octet);
        EXPECT_EQ(address_text(ipv4(b, other, 0, b)), expected);
        EXPECT_EQ(AddressText(ipv4(b, other, 0, b)).view(), expected);
    }
    EXPECT_EQ(address_text(0xFFFFFFFFU), "255.255.255.255");
    EXPECT_EQ(address_text(0), "0.0.0.0");
}

TEST(PeerLookup, FindsTheFirstPeerWithExactlyThatText) {
    NetNode node;
    for (const char* text : {"127.0.0.12", "127.0.0.2", "127.0.0.21", "10.0.0.2", "127.0.0.2"}) {
        Peer peer;
        peer.address_text = text;
        node.add_peer(peer);
    }
    EXPECT_EQ(node.find_peer("127.0.0.2"), 1U) << "the first of two equal texts";
    EXPECT_EQ(node.find_peer("127.0.0.21"), 2U);
    EXPECT_EQ(node.find_peer("10.0.0.2"), 3U);
    EXPECT_FALSE(node.find_peer("127.0.0.1").has_value());
    EXPECT_FALSE(node.find_peer("27.0.0.2").has_value()) << "a suffix is not a match";
    EXPECT_FALSE(node.find_peer("").has_value());
}

}  // namespace
}  // namespace tw
