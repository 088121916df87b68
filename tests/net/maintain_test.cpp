#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "net/net_node.h"
#include "node_access.h"
#include "node_harness.h"

namespace tw {
namespace {

using test::host;
using test::log_in;
using test::make_message;
using test::NodeHarness;
using test::of_kind;

// A client with its server admitted and nothing left to send.
class ClientSession : public ::testing::Test {
  protected:
    void SetUp() override {
        harness.deliver(make_message(KIND_LOGIN_ACCEPTED, 10, true, "srv"), host(1, 1210));
        harness.flush();
    }
    std::vector<test::Sent> pass(double elapsed) {
        harness.advance(elapsed);
        return harness.take();
    }
    NodeHarness harness{false};
};

TEST_F(ClientSession, UnacknowledgedMessageIsCopiedEveryTwoSeconds) {
    harness.node.broadcast_chat("hello", true);
    const std::int32_t id = harness.peers()[0].channel.reliable_queue[0].id;
    std::vector<int> sent_in_pass;
    std::vector<int> copied_in_pass;
    for (int pass_number = 1; pass_number <= 10; ++pass_number) {
        const auto outbox_before = harness.peers()[0].channel.outbox.size();
        const auto chats = of_kind(pass(0.5F), KIND_CHAT);
        if (!chats.empty()) {
            sent_in_pass.push_back(pass_number);
            EXPECT_EQ(chats[0].message.id, id) << "every copy keeps the message's id";
            EXPECT_EQ(read_text(chats[0].message), "hello");
        }
        if (harness.peers()[0].channel.outbox.size() > outbox_before) {
            copied_in_pass.push_back(pass_number);
        }
        // Keep the server alive so that only the resend schedule is seen.
        harness.peers()[0].heard_at = harness.now;
    }
    EXPECT_EQ(copied_in_pass, (std::vector<int>{1, 5, 9}));
    EXPECT_EQ(sent_in_pass, (std::vector<int>{2, 6, 10}));
}

TEST_F(ClientSession, AcknowledgementStopsTheResends) {
    harness.node.broadcast_chat("hello", true);
    const std::int32_t id = harness.peers()[0].channel.reliable_queue[0].id;
    pass(0.5F);
    pass(0.5F);
    NetMessage ack = make_message(KIND_ACK, 40, false);
    ack.length = 1;
    put_i32(ack.text, id);
    harness.deliver(ack, host(1, 1210));
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(of_kind(pass(0.5F), KIND_CHAT).empty());
        harness.peers()[0].heard_at = harness.now;
    }
}

TEST_F(ClientSession, ResendCopyTakesAnIdOfItsOwn) {
    harness.node.broadcast_chat("a", true);
    pass(0.1F);
    harness.node.broadcast_chat("b", true);
    const auto& queue = harness.peers()[0].channel.reliable_queue;
    ASSERT_EQ(queue.size(), 2U);
    EXPECT_EQ(queue[1].id, queue[0].id + 2);
    const auto copy = of_kind(pass(0.1F), KIND_CHAT);
    ASSERT_EQ(copy.size(), 1U);
    NetMessage expected = queue[0];
    expected.resend_timer = copy[0].message.resend_timer;
    EXPECT_EQ(copy[0].message, expected);
    EXPECT_LE(copy[0].message.resend_timer, 0.0F);
}

// The first ping goes a second after the answer, so that a client whose acks were all lost
// soon hears that its server has no session for it; then one every five seconds.
TEST_F(ClientSession, FirstPingGoesASecondAfterTheAnswerThenEveryFive) {
    std::vector<int> ping_passes;
    for (int pass_number = 1; pass_number <= 12; ++pass_number) {
        const auto pings = of_kind(pass(1.0F), KIND_PING);
        if (!pings.empty()) {
            ping_passes.push_back(pass_number);
            EXPECT_EQ(get_f32(pings[0].message.text), harness.node.ping_clock());
            EXPECT_EQ(pings[0].message.length, 1);
        }
        harness.peers()[0].heard_at = harness.now;
    }
    EXPECT_EQ(ping_passes, (std::vector<int>{2, 8}));
}

TEST_F(ClientSession, ServerSilentPastTenSecondsEndsTheSession) {
    test::NodeAccess::endpoint(harness.node).open_socket(false);
    for (int i = 0; i < 10; ++i) {
        pass(1.0F);
    }
    EXPECT_EQ(harness.peers().size(), 1U) << "exactly 10 s of silence is not a time-out";
    pass(0.01F);
    EXPECT_TRUE(harness.peers().empty());
    EXPECT_FALSE(harness.node.endpoint().is_open());
    ASSERT_FALSE(harness.node.events().empty());
    EXPECT_EQ(harness.node.events().back().what, SessionEvent::What::lost);
    EXPECT_TRUE(harness.node.events().back().silent);
}

TEST_F(ClientSession, ClientNeverChoosesADestination) {
    harness.node.broadcast_chat("x", true);
    pass(0.0F);
    const auto sent = pass(0.0F);
    ASSERT_FALSE(sent.empty());
    EXPECT_FALSE(sent[0].to.has_value());
    EXPECT_EQ(harness.node.endpoint().use_destination, 0);
}

class ServerSession : public ::testing::Test {
  protected:
    void SetUp() override {
        log_in(harness, "ann", a);
        log_in(harness, "bob", b);
        log_in(harness, "cat", c);
        harness.flush();
    }
    NodeHarness harness{true};
    SocketAddress a = host(11, 40001);
    SocketAddress b = host(12, 40002);
    SocketAddress c = host(13, 40003);
};

TEST_F(ServerSession, SilentPeerTimesOutAndTheOthersAreToldInTheSamePass) {
    for (Peer& peer : harness.peers()) {
        peer.channel.reliable_queue.clear();
    }
    harness.peers()[0].heard_at = harness.now - from_seconds(9.5);
    harness.peers()[0].channel.queue_message(true);
    harness.advance(0.6);
    const auto sent = harness.take();
    ASSERT_EQ(harness.peers().size(), 2U);
    EXPECT_EQ(harness.peers()[0].name, "bob");
    ASSERT_FALSE(harness.node.events().empty());
    EXPECT_EQ(harness.node.events().back().what, SessionEvent::What::timed_out);
    EXPECT_EQ(harness.node.events().back().name, "ann");
    for (const Peer& peer : harness.peers()) {
        ASSERT_EQ(peer.channel.reliable_queue.size(), 1U);
        EXPECT_EQ(peer.channel.reliable_queue[0].kind, KIND_PEER_TIMED_OUT);
        EXPECT_EQ(read_text(peer.channel.reliable_queue[0]), "ann");
        EXPECT_EQ(peer.channel.outbox.size(), 1U) << "the others were handled in the same pass";
    }
    for (const auto& s : sent) {
        EXPECT_NE(s.to, a) << "a timed-out peer's queues are dropped unsent";
    }
}

TEST_F(ServerSession, EachDatagramGoesToItsPeersAddress) {
    harness.node.broadcast_chat("all", false);
    const auto sent = harness.flush();
    ASSERT_EQ(sent.size(), 3U);
    EXPECT_EQ(sent[0].to, a);
    EXPECT_EQ(sent[1].to, b);
    EXPECT_EQ(sent[2].to, c);
}

TEST_F(ServerSession, ZeroPassSendsOutboxesAndMovesNoTimer) {
    harness.advance(1.0);
    harness.take();
    const auto due = harness.node.time_until_due(harness.now);
    harness.node.broadcast_logout();
    const float clock = harness.node.ping_clock();
    const auto sent = harness.flush();
    EXPECT_EQ(of_kind(sent, KIND_LOGOUT).size(), 3U);
    EXPECT_TRUE(of_kind(sent, KIND_PING).empty());
    EXPECT_EQ(harness.node.ping_clock(), clock);
    EXPECT_EQ(harness.node.time_until_due(harness.now), due);
    for (const Peer& peer : harness.peers()) {
        EXPECT_TRUE(peer.channel.outbox.empty());
    }
}

TEST(Maintain, EmptyTableOnlyAdvancesTheClock) {
    NodeHarness harness(true);
    harness.advance(0.25);
    harness.advance(0.25);
    EXPECT_EQ(harness.node.ping_clock(), 0.25F) << "counted from the first reading";
    EXPECT_TRUE(harness.take().empty());
    EXPECT_FALSE(harness.node.time_until_due(harness.now).has_value());
}

TEST(Broadcasts, EmptyLineAndEmptyNameQueueNothing) {
    NodeHarness harness(true);
    log_in(harness, "ann", host(11));
    harness.node.change_name("boss");
    const auto queued = harness.peers()[0].channel.reliable_queue.size();
    harness.node.broadcast_chat("", true);
    harness.node.change_name("");
    EXPECT_EQ(harness.peers()[0].channel.reliable_queue.size(), queued);
    EXPECT_EQ(harness.node.name(), "boss");
    harness.node.change_name("chief");
    EXPECT_EQ(harness.node.name(), "chief");
    EXPECT_EQ(harness.peers()[0].channel.reliable_queue.back().kind, KIND_NICK_CHANGE);
}

TEST(Broadcasts, LoginDatagramIsSentAtOnceWithIdZero) {
    NodeHarness harness(false);
    harness.node.send_login("");
    EXPECT_TRUE(harness.take().empty());
    harness.node.send_login("ann");
    const auto sent = harness.take();
    ASSERT_EQ(sent.size(), 1U);
    NetMessage expected = make_message(KIND_LOGIN, 0, true, "ann");
    EXPECT_EQ(sent[0].message, expected);
    EXPECT_EQ(sent[0].size, 88U);
}

TEST(Shutdown, EmptyTableStillClosesTheSocket) {
    NodeHarness harness(false);
    test::NodeAccess::endpoint(harness.node).open_socket(false);
    net_shutdown(harness.node);
    EXPECT_TRUE(harness.take().empty());
    EXPECT_FALSE(harness.node.endpoint().is_open());
}

TEST_F(ServerSession, ShutdownSaysGoodbyeToEveryPeer) {
    harness.node.change_name("boss");
    net_shutdown(harness.node);
    const auto logouts = of_kind(harness.take(), KIND_LOGOUT);
    ASSERT_EQ(logouts.size(), 3U);
    EXPECT_EQ(read_text(logouts[0].message), "boss");
    EXPECT_EQ(logouts[2].to, c);
}

TEST_F(ServerSession, NextDueTimeFollowsTheEarliestTimer) {
    for (Peer& peer : harness.peers()) {
        peer.channel.reliable_queue.clear();
    }
    const auto idle = harness.node.time_until_due(harness.now);
    ASSERT_TRUE(idle.has_value());
    EXPECT_GT(*idle, PING_INTERVAL) << "nothing due before the first ping";
    EXPECT_LT(*idle, PING_INTERVAL + std::chrono::milliseconds(10));
    harness.node.broadcast_chat("x", true);
    EXPECT_EQ(harness.node.time_until_due(harness.now), SessionTime{0});
    harness.node.maintain(harness.now);
    EXPECT_EQ(harness.node.time_until_due(harness.now), SessionTime{0})
        << "copies wait in the outbox";
    harness.node.maintain(harness.now);
    EXPECT_EQ(harness.node.time_until_due(harness.now), RESEND_INTERVAL);
}

// The frame loop sleeps for seconds_until_due and maintain acts on what is due: if the two
// disagree the loop spins (a wait of 0 with nothing to do) or sleeps through work. Over
// many generated tables, server and client, waiting and confirmed: advancing by the due
// time makes the pass act, advancing by the next smaller time does not. The clock is an
// integer reading, so a node up for 30 days acts to the nanosecond as a new one does and
// sends the very same datagrams.
class DueTime : public ::testing::TestWithParam<bool> {
  protected:
    static void fill(NodeHarness& harness, std::uint32_t seed, SessionTime now) {
        harness.now = now;
        std::mt19937 random(seed);
        const auto ago = [&](float low, float high) {
            return now - from_seconds(std::uniform_real_distribution<float>(low, high)(random));
        };
        const bool server = harness.node.is_server();
        const int peers = server ? 1 + static_cast<int>(random() % 3) : 1;
        for (int i = 0; i < peers; ++i) {
            Peer peer;
            peer.address = host(static_cast<std::uint8_t>(10 + i));
            peer.address_text = address_text(peer.address.ip);
            const bool waiting = server && random() % 2 == 0;
            if (waiting) {
                peer.pending.emplace();
            }
            peer.heard_at = ago(0.0F, waiting ? 40.0F : 10.5F);
            peer.pinged_at = ago(0.0F, waiting ? 40.0F : 5.5F);
            const int queued = static_cast<int>(random() % 3) + (waiting ? 1 : 0);
            for (int q = 0; q < queued; ++q) {
                peer.channel.queue_message(true).kind = KIND_CHAT;
                peer.channel.reliable_queue.back().due_at =
                    random() % 8 == 0 ? NEXT_PASS : now + (now - ago(0.0F, 2.0F));
            }
            if (queued > 0) {
                peer.unacknowledged_since = ago(0.0F, 30.5F);
            }
            test::NodeAccess::peers(harness.node).add(peer);
        }
    }
    // Something went out, was copied for the next pass, or a peer was let go.
    static bool acted(NodeHarness& harness, std::size_t peers_before) {
        bool copied = false;
        for (const Peer& peer : harness.peers()) {
            copied = copied || !peer.channel.outbox.empty();
        }
        return !harness.take().empty() || copied || harness.peers().size() != peers_before;
    }
    // What the next pass sends, as bytes.
    static std::vector<WireRecord> sent_by_pass(NodeHarness& harness, SessionTime now) {
        harness.node.maintain(now);
        harness.node.maintain(now);
        std::vector<WireRecord> records;
        for (const test::Sent& sent : harness.take()) {
            records.push_back(sent.message.encode());
        }
        return records;
    }
};

TEST_P(DueTime, ThePassActsExactlyWhenTheWaitEnds) {
    constexpr SessionTime START = std::chrono::hours(24 * 30);
    int checked_below = 0;
    for (std::uint32_t seed = 1; seed <= 3000; ++seed) {
        NodeHarness on_time(GetParam());
        NodeHarness early(GetParam());
        NodeHarness month_up(GetParam());
        fill(on_time, seed, SessionTime{0});
        fill(early, seed, SessionTime{0});
        fill(month_up, seed, START);
        const std::size_t peers = on_time.peers().size();
        const auto due = on_time.node.time_until_due(SessionTime{0});
        ASSERT_TRUE(due.has_value());
        ASSERT_EQ(month_up.node.time_until_due(START), due) << "seed " << seed;
        const std::vector<WireRecord> from_zero = sent_by_pass(on_time, *due);
        EXPECT_EQ(sent_by_pass(month_up, START + *due), from_zero) << "seed " << seed;
        EXPECT_EQ(month_up.node.events(), on_time.node.events()) << "seed " << seed;
        EXPECT_TRUE(!from_zero.empty() || on_time.peers().size() != peers)
            << "seed " << seed << ": nothing done after " << due->count() << " ns";
        if (*due > SessionTime{0}) {
            early.node.maintain(*due - SessionTime{1});
            EXPECT_FALSE(acted(early, peers))
                << "seed " << seed << ": acted before " << due->count();
            ++checked_below;
        }
    }
    EXPECT_GT(checked_below, 1500) << "most tables have something ahead";
}

// A record made during a long sleep is charged only its own time: a server idle for 35 s
// keeps the login that arrives then and answers it on time (a client that hears its answer
// then pings a second later); the first pass after it finds only the answer due.
TEST_P(DueTime, RecordsMadeDuringASleepAreChargedOnlyTheirOwnTime) {
    NodeHarness harness(GetParam());
    harness.advance(0.0);
    harness.now = std::chrono::seconds(35);
    const int kind = GetParam() ? KIND_LOGIN : KIND_LOGIN_ACCEPTED;
    harness.deliver(make_message(kind, 10, true, "ann"), host(20, 1210));
    harness.advance(0.0);
    const auto answers = of_kind(harness.flush(), KIND_LOGIN_ACCEPTED);
    ASSERT_EQ(harness.peers().size(), 1U);
    EXPECT_EQ(answers.size(), GetParam() ? 1U : 0U);
    EXPECT_TRUE(answers.empty() || answers[0].message.resend_timer == 0.0F) << "not late";
    const auto due = harness.node.time_until_due(harness.now);
    EXPECT_EQ(due, GetParam() ? RESEND_INTERVAL : FIRST_PING + SessionTime{1});
}

INSTANTIATE_TEST_SUITE_P(Node, DueTime, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& server) {
                             return server.param ? "Server" : "Client";
                         });

namespace hostile {

// What a live client does each second: it pings, and acknowledges all that is queued for
// it (as it would acknowledge every copy that reached it).
void keep_alive(NodeHarness& server, const SocketAddress& from, std::int32_t& next_id) {
    const auto position = server.node.find_peer(from);
    if (!position) {
        return;
    }
    std::vector<std::int32_t> pending;
    for (const NetMessage& message : server.peers()[*position].channel.reliable_queue) {
        pending.push_back(message.id);
    }
    for (const std::int32_t id : pending) {
        NetMessage ack = make_message(KIND_ACK, next_id++, false);
        ack.length = 1;
        put_i32(ack.text, id);
        server.deliver(ack, from);
    }
    NetMessage ping = make_message(KIND_PING, next_id++, false);
    ping.length = 1;
    server.deliver(ping, from);
}

SocketAddress fake(std::size_t index) {
    return SocketAddress{ipv4(127, 9, static_cast<std::uint8_t>(index / 250),
                              static_cast<std::uint8_t>(index % 250 + 1)),
                         5000};
}

}  // namespace hostile

// A peer that keeps sending but never acknowledges is given up after 30 s like a silent one.
TEST_F(ServerSession, PeerThatNeverAcknowledgesTimesOutAfterThirtySeconds) {
    std::int32_t id = 1000;
    harness.node.broadcast_chat("anyone there?", true);
    for (int second = 1; second <= 31; ++second) {
        hostile::keep_alive(harness, b, id);
        hostile::keep_alive(harness, c, id);
        NetMessage ping = make_message(KIND_PING, id++, false);
        ping.length = 1;
        harness.deliver(ping, a);
        harness.advance(1.0);
        if (second == 30) {
            EXPECT_EQ(harness.peers().size(), 3U) << "30 s exactly is not yet too long";
        }
    }
    ASSERT_EQ(harness.peers().size(), 2U);
    EXPECT_EQ(harness.peers()[0].name, "bob");
    ASSERT_FALSE(harness.node.events().empty());
    EXPECT_EQ(harness.node.events().back().what, SessionEvent::What::timed_out);
    EXPECT_EQ(harness.node.events().back().name, "ann");
    EXPECT_EQ(harness.peers()[1].channel.reliable_queue.back().kind, KIND_PEER_TIMED_OUT);
}

// A peer whose queue passes its bound is timed out, not a message dropped.
TEST_F(ServerSession, PeerWhoseQueuePassesTheBoundIsTimedOut) {
    std::int32_t id = 1000;
    for (std::size_t line = 0; line <= QUEUE_LIMIT && harness.peers().size() == 3U; ++line) {
        harness.node.broadcast_chat("spam", true);
        hostile::keep_alive(harness, b, id);
        hostile::keep_alive(harness, c, id);
        harness.flush();
    }
    ASSERT_EQ(harness.peers().size(), 2U);
    EXPECT_EQ(harness.peers()[0].name, "bob");
    EXPECT_EQ(harness.peers()[1].name, "cat");
    EXPECT_EQ(harness.node.events().back().what, SessionEvent::What::timed_out);
    EXPECT_EQ(harness.node.events().back().name, "ann");
}

// 1,000 hosts log in and send something every 4 s for 20 s without ever acknowledging.
// The real clients hear nothing of them, the server sends few datagrams per datagram of
// the attack, and 35 s later the table holds only the real clients again.
TEST_F(ServerSession, LoginFloodIsNeitherAnnouncedNorAmplifiedAndLeavesNoTrace) {
    constexpr std::size_t FAKES = 1000;
    constexpr int FRAMES_PER_SECOND = 10;
    std::int32_t id = 1000;
    std::uint64_t attack = 0;
    std::size_t peak_peers = 0;
    std::size_t announced_to_ann = 0;
    const std::uint64_t sent_before = harness.node.counters().sent;
    static_cast<void>(harness.node.take_events());
    for (int frame = 0; frame < 55 * FRAMES_PER_SECOND; ++frame) {
        const int second = frame / FRAMES_PER_SECOND;
        // Each fake speaks once every 4 s, a tenth of them in each frame of a second.
        for (std::size_t f = 0; second < 20 && f < FAKES; ++f) {
            if (static_cast<int>(f % (4 * FRAMES_PER_SECOND)) == frame % (4 * FRAMES_PER_SECOND)) {
                const bool first = frame < 4 * FRAMES_PER_SECOND;
                harness.deliver(make_message(first ? KIND_LOGIN : KIND_PING, id++, !first,
                                             "fake" + std::to_string(f)),
                                hostile::fake(f));
                ++attack;
            }
        }
        if (frame % FRAMES_PER_SECOND == 0) {
            for (const SocketAddress& real : {a, b, c}) {
                hostile::keep_alive(harness, real, id);
            }
        }
        for (const NetMessage& m : harness.peers()[0].channel.reliable_queue) {
            announced_to_ann += m.kind == KIND_PEER_LOGGED_IN ? 1U : 0U;
        }
        peak_peers = std::max(peak_peers, harness.peers().size());
        harness.advance(1.0 / FRAMES_PER_SECOND);
        harness.take();
    }
    const auto sent = harness.node.counters().sent - sent_before;
    EXPECT_EQ(announced_to_ann, 0U);
    EXPECT_LE(peak_peers, MAX_PEERS);
    EXPECT_GT(harness.node.counters().cookie_logins, 0U);
    EXPECT_LT(static_cast<double>(sent) / static_cast<double>(attack), 50.0);
    ASSERT_EQ(harness.peers().size(), 3U);
    EXPECT_TRUE(harness.node.events().empty()) << "the fakes came and went unseen";
}

// One address logging in again and again with fresh ids, never acknowledging: one answer
// waits for it at a time, and every login costs at most its own acknowledgement.
TEST(HostileLogins, RepeatedLoginsFromOneAddressKeepOneAnswerWaiting) {
    NodeHarness server(true);
    std::size_t longest_queue = 0;
    for (std::int32_t id = 1; id <= 20000; ++id) {
        server.deliver(make_message(KIND_LOGIN, id, true, "again"), host(20));
        if (id % 100 == 0) {
            for (const Peer& peer : server.peers()) {
                longest_queue = std::max(longest_queue, peer.channel.reliable_queue.size());
            }
            server.advance(0.04);
        }
    }
    EXPECT_LE(longest_queue, 1U);
    EXPECT_LT(server.node.counters().sent, 22000U);
}

}  // namespace
}  // namespace tw
