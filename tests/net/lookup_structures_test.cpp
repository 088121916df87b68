#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "net/login_cookies.h"
#include "net/net_node.h"
#include "net/received_ids.h"
#include "node_access.h"
#include "transport/socket_address.h"

namespace tw {
namespace {

// Within its window the duplicate check must answer exactly as an ordered map of ids
// would, whatever order the ids come in: rising as a sender's do, repeated as resends
// are, late by up to the window, and across the wrap from INT32_MAX to INT32_MIN.
class ReceivedIdsAgreeWithAMap : public ::testing::Test {
  protected:
    void enter(std::int32_t id) {
        const bool fresh = ids.remember(id) == IdFate::fresh;
        const bool expected_fresh = reference.insert(id).second;
        ASSERT_EQ(fresh, expected_fresh) << "id " << id;
    }

    ReceivedIds ids;
    std::set<std::int32_t> reference;
};

TEST_F(ReceivedIdsAgreeWithAMap, RisingIdsWithResendsAndGaps) {
    for (std::int32_t id = 10; id < 30000; id += 3) {
        enter(id);
        enter(id);  // the resend copy of the same message
        if (id % 7 == 0) {
            enter(id - 30);  // a late copy of an older message
            enter(id - 4000);
        }
    }
}

TEST_F(ReceivedIdsAgreeWithAMap, WrapFromLargestToSmallestId) {
    for (std::int64_t id = INT32_MAX - 100; id <= std::int64_t{INT32_MAX} + 100; ++id) {
        enter(static_cast<std::int32_t>(static_cast<std::uint32_t>(id)));
    }
    enter(INT32_MAX);
    enter(INT32_MIN);
    enter(INT32_MIN + 101);
    enter(INT32_MAX - 101);
}

// Whatever falls behind the window is taken for a copy already seen, and ids scattered
// over the whole range neither grow the window nor move it.
TEST(ReceivedIds, IdsBehindTheWindowCountAsSeenAndScatteredOnesMoveNothing) {
    ReceivedIds ids;
    EXPECT_EQ(ids.remember(100000), IdFate::fresh);
    EXPECT_EQ(ids.remember(100000 - static_cast<std::int32_t>(ReceivedIds::WINDOW)), IdFate::seen);
    EXPECT_EQ(ids.remember(100000 - static_cast<std::int32_t>(ReceivedIds::WINDOW) + 1),
              IdFate::fresh);
    EXPECT_EQ(ids.remember(-5), IdFate::seen) << "far behind the newest id: an old copy";
    std::mt19937 random(7);
    for (int i = 0; i < 100000; ++i) {
        const auto id = static_cast<std::int32_t>(random());
        const auto from_newest =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(id) - 100000U);
        if (from_newest > -static_cast<std::int32_t>(ReceivedIds::WINDOW) &&
            from_newest <= static_cast<std::int32_t>(ReceivedIds::REACH)) {
            continue;  // one in 65,000 lands where a late or next id of the sender's could
        }
        EXPECT_NE(ids.remember(id), IdFate::fresh) << id;
        ids.heard(id);
    }
    EXPECT_EQ(ids.remember(100001), IdFate::fresh) << "the sender's own next id";
    EXPECT_LT(sizeof(ReceivedIds), 1024U);
}

// A blind forger's ladder, in any steps wider than a live peer's counter can jump, from
// anywhere and however long: no rung is taken and none moves the window, so the peer's
// own ids stay fresh. A peer heard only through unreliable datagrams for a while (acks
// of a busy room) is followed by them; one that did jump farther is found again where
// its proven answer says it is.
TEST(ReceivedIds, OnlyIdsThatCouldBeNextMoveTheWindow) {
    ReceivedIds ids;
    ASSERT_EQ(ids.remember(1000), IdFate::fresh);
    for (const std::uint32_t step : {ReceivedIds::REACH + 1, 32768U, ReceivedIds::WINDOW + 1}) {
        std::uint32_t id = 1000;
        for (int rung = 0; rung < 300; ++rung) {
            id += step;
            EXPECT_EQ(ids.remember(static_cast<std::int32_t>(id)), IdFate::out_of_reach);
            ids.heard(static_cast<std::int32_t>(id));
        }
    }
    EXPECT_TRUE(ids.could_be_next(1000 + int{ReceivedIds::REACH}));
    EXPECT_FALSE(ids.could_be_next(1001 + int{ReceivedIds::REACH}));
    for (std::int32_t ack = 1001; ack <= 6000; ++ack) {
        ids.heard(ack);
    }
    EXPECT_EQ(ids.remember(6001), IdFate::fresh);
    EXPECT_EQ(ids.remember(1000), IdFate::seen);
    EXPECT_EQ(ids.remember(900000), IdFate::out_of_reach);
    ids.anchor(900000);
    EXPECT_EQ(ids.remember(900001), IdFate::fresh);
    ids.anchor(6002);
    EXPECT_EQ(ids.remember(6003), IdFate::fresh) << "anchored back where the peer is";
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

TEST(PeerLookup, FindsThePeerOfExactlyThatAddressAndPortAsTheTableShifts) {
    NetNode node;
    for (const SocketAddress address :
         {SocketAddress{ipv4(127, 0, 0, 2), 5000}, SocketAddress{ipv4(127, 0, 0, 2), 5001},
          SocketAddress{ipv4(10, 0, 0, 2), 5000}}) {
        Peer peer;
        peer.address = address;
        test::NodeAccess::peers(node).add(peer);
    }
    EXPECT_EQ(node.find_peer({ipv4(127, 0, 0, 2), 5001}), 1U);
    EXPECT_EQ(node.find_peer({ipv4(10, 0, 0, 2), 5000}), 2U);
    EXPECT_FALSE(node.find_peer({ipv4(127, 0, 0, 2), 5002}).has_value());
    EXPECT_FALSE(node.find_peer({ipv4(127, 0, 0, 3), 5000}).has_value());
    // One leaves from the middle: the others are found at their new places, by address
    // and by handle, and it is found no more.
    const PeerHandle last = node.peers()[2].handle;
    test::NodeAccess::peers(node).remove(1);
    EXPECT_EQ(node.find_peer({ipv4(10, 0, 0, 2), 5000}), 1U);
    EXPECT_FALSE(node.find_peer({ipv4(127, 0, 0, 2), 5001}).has_value());
    EXPECT_EQ(node.peer(last), &node.peers()[1]);
}

// The keyed hash behind the login cookies gives the reference vectors of SipHash-2-4, and
// a cookie is good for its own address only, and only for a while.
TEST(LoginCookie, IsSipHashAndHoldsForItsAddressAndSlot) {
    std::array<std::uint8_t, 15> message{};
    for (std::size_t i = 0; i < message.size(); ++i) {
        message[i] = static_cast<std::uint8_t>(i);
    }
    constexpr std::uint64_t K0 = 0x0706050403020100ULL;
    constexpr std::uint64_t K1 = 0x0f0e0d0c0b0a0908ULL;
    EXPECT_EQ(siphash24(K0, K1, message.data(), 0), 0x726fdb47dd0e0e31ULL);
    EXPECT_EQ(siphash24(K0, K1, message.data(), message.size()), 0xa129ca6149be45e5ULL);

    LoginCookies cookies;
    cookies.set_key(K0, K1);
    const SocketAddress ann{ipv4(127, 0, 0, 2), 5000};
    const SessionTime at = std::chrono::seconds(10);
    const std::int32_t id = cookies.issue(ann, at, "ann", 0).value_or(0);
    EXPECT_FALSE(cookies.valid(id, {ipv4(127, 0, 0, 2), 5001}, at));
    EXPECT_TRUE(cookies.valid(id, ann, at + COOKIE_SLOT));
    EXPECT_FALSE(cookies.valid(id, ann, at + 2 * COOKIE_SLOT));
    EXPECT_EQ(cookies.redeem(id, ann, at).value_or(RememberedLogin{}).name, "ann");
    EXPECT_FALSE(cookies.redeem(id, ann, at).has_value()) << "taken once";
    const std::int32_t later = cookies.issue(ann, at, "ann", 0).value_or(0);
    cookies.forget_stale(at + 2 * COOKIE_SLOT);
    EXPECT_FALSE(cookies.redeem(later, ann, at).has_value()) << "the table went with the flood";
}

// A blind forger who logs in from a kept login's address cannot rename it (the login is
// given up), and one who guesses its cookie loses the kept login with the first wrong id
// and a second's checks with the budget's worth: a real ack then waits for the next one.
TEST(LoginCookie, RenamesNothingAndMakesEveryGuessCost) {
    LoginCookies cookies;
    cookies.set_key(1, 2);
    const SocketAddress ann{ipv4(127, 0, 0, 2), 5000};
    const SessionTime at = std::chrono::seconds(10);
    const std::int32_t id = cookies.issue(ann, at, "ann", 0).value_or(0);
    EXPECT_EQ(cookies.issue(ann, at, "ann", 0), id) << "her own login again";
    EXPECT_FALSE(cookies.issue(ann, at, "mallory", 0).has_value());
    EXPECT_FALSE(cookies.redeem(id, ann, at).has_value());
    EXPECT_EQ(cookies.redeem(cookies.issue(ann, at, "ann", 0).value_or(0), ann, at)
                  .value_or(RememberedLogin{})
                  .name,
              "ann");
    const std::int32_t again = cookies.issue(ann, at, "ann", 0).value_or(0);
    EXPECT_FALSE(cookies.redeem(again ^ 1, ann, at).has_value());
    EXPECT_FALSE(cookies.redeem(again, ann, at).has_value()) << "the wrong id cost the login";

    for (int guess = 0; guess < 2 * static_cast<int>(COOKIE_CHECKS_PER_SECOND); ++guess) {
        const SocketAddress fake{ipv4(127, 0, 1, static_cast<std::uint8_t>(guess % 250)),
                                 static_cast<std::uint16_t>(1024 + guess / 250)};
        cookies.issue(fake, at, "x", 0);
        EXPECT_FALSE(cookies.redeem(guess, fake, at).has_value());
    }
    const std::int32_t last = cookies.issue(ann, at, "ann", 0).value_or(0);
    EXPECT_FALSE(cookies.redeem(last, ann, at).has_value()) << "the second's checks are spent";
    EXPECT_TRUE(cookies.redeem(last, ann, at + std::chrono::seconds(1)).has_value());
}

}  // namespace
}  // namespace tw
