#include <gtest/gtest.h>

#include "net/net_node.h"
#include "node_harness.h"

namespace tw {
namespace {

using test::host;
using test::log_in;
using test::make_message;
using test::NodeHarness;
using test::of_kind;

class ClientDispatch : public ::testing::Test {
  protected:
    void SetUp() override {
        harness.deliver(make_message(KIND_LOGIN_ACCEPTED, 10, true, "srv"), server);
        harness.flush();
        // The chat layer names the server from its acceptance.
        harness.peers()[0].name = "srv";
    }
    NodeHarness harness{false};
    SocketAddress server = host(1, 1210);
};

class ServerDispatch : public ::testing::Test {
  protected:
    void SetUp() override {
        harness.node.change_name("boss");
        log_in(harness, "ann", a);
        log_in(harness, "bob", b);
        log_in(harness, "cat", c);
        harness.flush();
    }
    // Messages queued reliably to peer `position` since the last look, oldest first.
    std::vector<NetMessage> reliable_to(std::size_t position) {
        const auto& queue = harness.peers()[position].channel.reliable_queue;
        return {queue.begin(), queue.end()};
    }
    NodeHarness harness{true};
    SocketAddress a = host(11, 40001);
    SocketAddress b = host(12, 40002);
    SocketAddress c = host(13, 40003);
};

TEST(Dispatch, ShortDatagramIsDroppedWithoutTrace) {
    NodeHarness harness(true);
    const WireRecord login = make_message(KIND_LOGIN, 0, true, "ann").encode();
    harness.node.dispatch(std::span(login).first(87), host(11), harness.now);
    EXPECT_TRUE(harness.node.events().empty());
    EXPECT_TRUE(harness.peers().empty());
    EXPECT_TRUE(harness.flush().empty());
    EXPECT_EQ(harness.node.counters().dropped_short, 1U);
}

TEST(Dispatch, LongDatagramIsReadFromItsFirstEightyEightBytes) {
    NodeHarness harness(true);
    std::array<std::uint8_t, 100> datagram{};
    const WireRecord login = make_message(KIND_LOGIN, 0, true, "ann").encode();
    std::copy(login.begin(), login.end(), datagram.begin());
    datagram.fill(0xFF);
    std::copy(login.begin(), login.end(), datagram.begin());
    harness.node.dispatch(datagram, host(11), harness.now);
    ASSERT_EQ(harness.peers().size(), 1U);
    EXPECT_EQ(harness.peers()[0].name, "ann");
}

TEST(Dispatch, UnknownSenderIsAdmittedOnlyByLoginOrAcceptance) {
    NodeHarness harness(false);
    EXPECT_FALSE(harness.deliver(make_message(KIND_PING, 10, false), host(9)).has_value());
    EXPECT_FALSE(harness.deliver(make_message(KIND_CHAT, 10, true, "x"), host(9)).has_value());
    EXPECT_TRUE(harness.peers().empty());
    EXPECT_TRUE(harness.flush().empty());
    EXPECT_EQ(harness.node.counters().dropped_unknown, 2U);
}

TEST_F(ClientDispatch, AcceptanceAdmitsTheServerWithItsPortAndAcknowledges) {
    ASSERT_EQ(harness.peers().size(), 1U);
    EXPECT_EQ(harness.peers()[0].address, server);
    NodeHarness fresh(false);
    const auto delivered =
        fresh.deliver(make_message(KIND_LOGIN_ACCEPTED, 10, true, "srv"), server);
    ASSERT_TRUE(delivered.has_value());
    EXPECT_EQ(delivered->peer, fresh.peers()[0].handle);
    // The ack that confirms the login goes more than once: its loss would cost the session.
    const auto sent = fresh.flush();
    ASSERT_EQ(sent.size(), static_cast<std::size_t>(LOGIN_ACK_COPIES));
    EXPECT_EQ(sent[2].message.kind, KIND_ACK);
    EXPECT_EQ(get_i32(sent[2].message.text), 10);
    EXPECT_EQ(sent[2].size, 88U);
    EXPECT_FALSE(sent[2].to.has_value()) << "a client sends to its connected server";
}

TEST_F(ClientDispatch, DuplicateIsAcknowledgedEachTimeButDeliveredOnce) {
    const NetMessage chat = make_message(KIND_CHAT, 20, true, "hi");
    EXPECT_TRUE(harness.deliver(chat, server).has_value());
    EXPECT_FALSE(harness.deliver(chat, server).has_value());
    const auto acks = of_kind(harness.flush(), KIND_ACK);
    ASSERT_EQ(acks.size(), 2U);
    EXPECT_EQ(get_i32(acks[0].message.text), 20);
    EXPECT_EQ(get_i32(acks[1].message.text), 20);
    EXPECT_NE(acks[0].message.id, acks[1].message.id);
    EXPECT_EQ(harness.node.counters().duplicates, 1U);
}

TEST_F(ClientDispatch, ReliableWithZeroLengthIsAcknowledgedNotDelivered) {
    NetMessage empty = make_message(KIND_CHAT, 21, true);
    EXPECT_FALSE(harness.deliver(empty, server).has_value());
    EXPECT_EQ(of_kind(harness.flush(), KIND_ACK).size(), 1U);
}

TEST_F(ClientDispatch, AckRemovesOnlyTheFirstMatchingQueuedMessage) {
    auto& queue = harness.peers()[0].channel.reliable_queue;
    queue.clear();
    queue.push_back({make_message(KIND_CHAT, 30, true, "one")});
    queue.push_back({make_message(KIND_CHAT, 31, true, "two")});
    queue.push_back({make_message(KIND_CHAT, 30, true, "three")});
    NetMessage ack = make_message(KIND_ACK, 50, false);
    ack.length = 1;
    put_i32(ack.text, 30);
    harness.deliver(ack, server);
    ASSERT_EQ(harness.event->what, SessionEvent::What::delivered);
    EXPECT_EQ(read_text(harness.event->message), "one");
    ASSERT_EQ(queue.size(), 2U);
    EXPECT_EQ(read_text(queue[0]), "two");
    EXPECT_EQ(read_text(queue[1]), "three");
    put_i32(ack.text, 999);
    harness.deliver(ack, server);
    EXPECT_EQ(queue.size(), 2U);
}

TEST_F(ClientDispatch, PingIsAnsweredWithItsOwnPayloadAndPongSetsRoundTrip) {
    NetMessage ping = make_message(KIND_PING, 40, false);
    ping.length = 1;
    ping.reserved = 77;
    put_f32(ping.text, 3.25F);
    ping.text[10] = 0x5A;
    harness.deliver(ping, server);
    const auto pongs = of_kind(harness.flush(), KIND_PONG);
    ASSERT_EQ(pongs.size(), 1U);
    EXPECT_EQ(pongs[0].message.text, ping.text);
    EXPECT_EQ(pongs[0].message.reserved, 77);
    EXPECT_EQ(pongs[0].message.length, 1);

    harness.now = from_seconds(12.75);
    NetMessage pong = make_message(KIND_PONG, 41, false);
    pong.length = 1;
    put_f32(pong.text, 12.5F);
    harness.deliver(pong, server);
    EXPECT_FLOAT_EQ(harness.peers()[0].round_trip, 0.25F);
}

TEST_F(ClientDispatch, ChatIsDeliveredButNotRelayedByAClient) {
    const auto delivered = harness.deliver(make_message(KIND_CHAT, 22, true, "hello"), server);
    ASSERT_TRUE(delivered.has_value());
    EXPECT_EQ(read_text(delivered->message), "hello");
    EXPECT_TRUE(harness.peers()[0].channel.reliable_queue.empty());
}

TEST_F(ClientDispatch, NameChangeAddsNoticeAndQueuesOnlyTheAck) {
    harness.deliver(make_message(KIND_NICK_CHANGE, 23, true, "boss"), server);
    ASSERT_TRUE(harness.event.has_value());
    EXPECT_EQ(harness.event->what, SessionEvent::What::renamed);
    EXPECT_EQ(harness.event->earlier_name + " to " + harness.event->name, "srv to boss");
    EXPECT_EQ(harness.peers()[0].name, "boss");
    EXPECT_TRUE(harness.peers()[0].channel.reliable_queue.empty());
    EXPECT_EQ(harness.flush().size(), 1U);
}

// Only what the server alone can know ends the session: the next id of its counter, or
// the echo of an id the client sent it. A blind forger's goodbye draws a ping, which the
// real server answers, and an answer to a login the client never sent goes
// unacknowledged: that ack would give its session to the forger's login.
TEST_F(ClientDispatch, ForgedGoodbyesAndAnswersEndNothing) {
    EXPECT_FALSE(harness.deliver(make_message(KIND_LOGOUT, 10 + (1 << 30), true, "srv"), server));
    EXPECT_FALSE(harness.deliver(make_message(KIND_LOGIN_ACCEPTED, 77, true, "srv"), server));
    const auto sent = harness.flush();
    ASSERT_EQ(sent.size(), 1U);
    EXPECT_EQ(sent[0].message.kind, KIND_PING);
    harness.deliver(make_message(KIND_LOGIN_ACCEPTED, 10, true, "srv"), server);
    EXPECT_EQ(of_kind(harness.flush(), KIND_ACK).size(), std::size_t{LOGIN_ACK_COPIES})
        << "a copy of the answer that let it in";
    EXPECT_EQ(harness.peers().size(), 1U);
    harness.deliver(make_message(KIND_LOGOUT, sent[0].message.id, false, "srv"), server);
    EXPECT_TRUE(harness.peers().empty()) << "no session, in answer to its ping";
}

TEST_F(ClientDispatch, LogoutRemovesTheServerAndHandsOutNoPeer) {
    harness.node.broadcast_chat("unanswered", true);
    static_cast<void>(harness.node.take_events());
    const auto delivered = harness.deliver(make_message(KIND_LOGOUT, 24, false, "srv"), server);
    ASSERT_TRUE(delivered.has_value());
    EXPECT_FALSE(delivered->peer.has_value());
    EXPECT_TRUE(harness.peers().empty());
    // One stream, in the order it happened: the goodbye, what it ended, what it kept.
    std::vector<SessionEvent::What> order;
    for (const SessionEvent& event : harness.node.events()) {
        order.push_back(event.what);
    }
    using What = SessionEvent::What;
    EXPECT_EQ(order, (std::vector{What::message, What::left, What::lost, What::kept}));
    EXPECT_EQ(harness.node.events().back().count, 1U);
}

// Before its login is out a client takes no login answer: it could only answer a forger's
// login from the client's port, sent the moment that port showed.
TEST(Dispatch, ClientTakesNoAnswerBeforeItsLoginIsOut) {
    NodeHarness client(false);
    client.node.change_name("carol");
    client.node.connect_to("127.0.0.1", 9);
    ASSERT_EQ(client.node.client_session().phase(), SessionPhase::connecting);
    client.deliver(make_message(KIND_LOGIN_ACCEPTED, 10, true, "srv"), host(1, 9));
    EXPECT_TRUE(client.peers().empty()) << "no server, so nothing to acknowledge it to";
    EXPECT_EQ(client.node.counters().unproven, 1U);
}

TEST(Dispatch, LoginReachingAClientAdmitsButOnlyAcknowledges) {
    NodeHarness client(false);
    const auto delivered = client.deliver(make_message(KIND_LOGIN, 0, true, "ann"), host(5));
    ASSERT_TRUE(delivered.has_value());
    EXPECT_EQ(client.peers().size(), 1U);
    EXPECT_TRUE(client.peers()[0].channel.reliable_queue.empty());
    const auto sent = client.flush();
    ASSERT_EQ(sent.size(), 1U);
    EXPECT_EQ(sent[0].message.kind, KIND_ACK);
}

TEST(ServerLogin, FirstLoginIsAcceptedAndAnnounced) {
    NodeHarness server(true);
    server.node.change_name("boss");
    log_in(server, "ann", host(11));
    NetMessage login = make_message(KIND_LOGIN, 0, true, "bob");
    login.reserved = 5;
    EXPECT_FALSE(server.deliver(login, host(12)).has_value()) << "shown once confirmed";
    const auto& to_bob = server.peers()[1].channel.reliable_queue;
    ASSERT_EQ(to_bob.size(), 1U);
    EXPECT_EQ(to_bob[0].kind, KIND_LOGIN_ACCEPTED);
    EXPECT_EQ(read_text(to_bob[0]), "boss");
    EXPECT_EQ(to_bob[0].reserved, 0);
    EXPECT_TRUE(server.peers()[0].channel.reliable_queue.empty()) << "not announced yet";

    // The client acknowledges the answer: now it is shown and announced.
    const auto joined = confirm(server, host(12));
    ASSERT_TRUE(joined.has_value());
    EXPECT_EQ(joined->what, SessionEvent::What::joined);
    EXPECT_EQ(joined->name, "bob");
    EXPECT_FALSE(joined->replaced_earlier);
    const auto& to_ann = server.peers()[0].channel.reliable_queue;
    ASSERT_EQ(to_ann.size(), 1U);
    EXPECT_EQ(to_ann.back().kind, KIND_PEER_LOGGED_IN);
    EXPECT_EQ(read_text(to_ann.back()), "bob");
    EXPECT_EQ(to_ann.back().reserved, 5);
}

TEST(ServerLogin, HostileLengthIsReadWithinTheArea) {
    NodeHarness server(true);
    NetMessage login = make_message(KIND_LOGIN, 0, true, "ann");
    login.length = 5000;
    server.deliver(login, host(11));
    EXPECT_EQ(server.peers()[0].name, "ann");

    NetMessage negative = make_message(KIND_LOGIN, 0, true, "bob");
    negative.length = -3;
    EXPECT_FALSE(server.deliver(negative, host(12)).has_value());
    EXPECT_EQ(server.peers()[1].name, "");

    NetMessage unterminated = make_message(KIND_LOGIN, 0, true, std::string(64, 'z'));
    unterminated.length = 64;
    server.deliver(unterminated, host(13));
    EXPECT_EQ(server.peers()[2].name, std::string(64, 'z'));
}

// Peers are told apart by port too: a second user on ann's host has a session of its own,
// and only ann herself, restarted on a new port, takes over ann's old session, which the
// others then see leave before she is back.
TEST(ServerLogin, SessionsOfOneHostAreKeptApartAndOnlyTheSameUserReplacesOne) {
    NodeHarness server(true);
    log_in(server, "ann", host(11, 40001));
    log_in(server, "bob", host(12, 40002));
    log_in(server, "cat", host(11, 40003));
    ASSERT_EQ(server.peers().size(), 3U) << "cat shares ann's host, not her session";
    server.deliver(make_message(KIND_LOGIN, 0, true, "ann"), host(11, 50000));
    EXPECT_EQ(server.peers().size(), 4U) << "admitted at once, beside the old session";
    const auto back = confirm(server, host(11, 50000));
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(back->replaced_earlier);
    ASSERT_EQ(server.peers().size(), 3U);
    EXPECT_FALSE(server.node.find_peer(host(11, 40001)).has_value());
    EXPECT_EQ(server.peers()[1].name, "cat");
    const auto& told_bob = server.peers()[0].channel.reliable_queue;
    ASSERT_GE(told_bob.size(), 2U);
    EXPECT_EQ(told_bob[told_bob.size() - 2].kind, KIND_PEER_LOGGED_OUT);
    EXPECT_EQ(told_bob.back().kind, KIND_PEER_LOGGED_IN);
    // The new process's first chat line is not mistaken for the old one's.
    EXPECT_TRUE(server.deliver(make_message(KIND_CHAT, 10, true, "back"), host(11, 50000)));
}

// One host gets MAX_SESSIONS_PER_HOST sessions and no more, however many ports it logs in
// from; its own user still gets back in, and so does anyone from another host.
// Two names from one waiting address and port: one is a forger's, and nothing tells which,
// so neither gets in; the client is told it has no session and logs in afresh.
TEST(ServerLogin, AWaitingLoginHeardUnderASecondNameIsWithdrawn) {
    NodeHarness server(true);
    server.deliver(make_message(KIND_LOGIN, 0, true, "carol"), host(11));
    server.deliver(make_message(KIND_LOGIN, 0, true, "carol"), host(11));
    ASSERT_EQ(server.peers().size(), 1U) << "her own login again changes nothing";
    server.deliver(make_message(KIND_LOGIN, 0, true, "mallory"), host(11));
    EXPECT_TRUE(server.peers().empty());
    EXPECT_FALSE(confirm(server, host(11)).has_value());
    server.deliver(make_message(KIND_LOGIN, 0, true, "mallory"), host(11));
    EXPECT_TRUE(server.peers().empty()) << "nor does a forger's next login from there";
}

// Only proven sessions count against a host's bound. Logins that never confirm, under any
// name, take no more than the host's share of waiting places, the rest being answered by
// cookie, so a real user of that host still gets in; one beyond the bound is told why.
TEST(ServerLogin, OneHostCannotFillTheTable) {
    NodeHarness server(true);
    for (std::uint16_t port = 1; port <= 40; ++port) {
        server.deliver(make_message(KIND_LOGIN, 0, true, "u1"), host(11, 20000 + port));
    }
    EXPECT_EQ(server.peers().size(), MAX_SESSIONS_PER_HOST) << "waiting places of the host";
    for (std::uint16_t port = 1; port <= 255; ++port) {
        log_in(server, "u" + std::to_string(port), host(11, port));
    }
    EXPECT_EQ(server.node.counters().refused_logins, 255U - MAX_SESSIONS_PER_HOST);
    server.deliver(make_message(KIND_LOGIN, 0, true, "ninth"), host(11, 9998));
    const auto told = of_kind(server.flush(), KIND_LOGOUT);
    ASSERT_EQ(told.size(), 1U);
    EXPECT_EQ(read_text(told[0].message), HOST_FULL_REASON);
    log_in(server, "u1", host(11, 9999));
    EXPECT_TRUE(server.node.find_peer(host(11, 9999)).has_value()) << "u1 is back";
    log_in(server, "newcomer", host(12));
    EXPECT_EQ(server.peers().back().name, "newcomer");
    EXPECT_EQ(server.peers().size(), 2 * MAX_SESSIONS_PER_HOST + 1) << "and the 8 waiting";
}

// A blind forger cannot complete a login: the answer's id is unpredictable, a login answer
// sent to a server admits nobody, and a flood of logins fills the waiting places and no
// more: the rest are answered without a session, and a real one still gets in by its ack.
TEST(ServerLogin, ForgedConfirmationsAndAnswersAdmitNoOne) {
    NodeHarness server(true);
    std::int32_t next = 1;
    server.node.set_id_source([&next] { return next++ * 7919; });
    constexpr std::size_t FAKES = 256;
    for (std::size_t fake = 0; fake < FAKES; ++fake) {
        const SocketAddress from{ipv4(127, 9, static_cast<std::uint8_t>(fake / 200),
                                      static_cast<std::uint8_t>(fake % 200 + 1)),
                                 9};
        server.deliver(make_message(KIND_LOGIN_ACCEPTED, 10, true, "x"), from);
        EXPECT_FALSE(server.node.find_peer(from).has_value()) << "an answer admits no one";
        server.deliver(make_message(KIND_LOGIN, 0, true, "fake"), from);
        for (std::int32_t guess = 10; guess < 20; ++guess) {
            NetMessage ack = make_message(KIND_ACK, guess, false);
            ack.length = 1;
            put_i32(ack.text, guess);
            server.deliver(ack, from);
            EXPECT_FALSE(server.event.has_value());
        }
    }
    EXPECT_EQ(server.peers().size(), MAX_WAITING_PEERS);
    EXPECT_EQ(server.node.counters().cookie_logins, FAKES - MAX_WAITING_PEERS);
    // A thousand forged logins between a real login and its ack (10 ms at 100,000 a
    // second) keep no session, and the real one gets in.
    server.deliver(make_message(KIND_LOGIN, 0, true, "real"), host(250, 1));
    const auto answer = server.answer_sent_to(host(250, 1));
    ASSERT_TRUE(answer.has_value());
    for (std::uint32_t fake = 0; fake < 1000; ++fake) {
        server.deliver(make_message(KIND_LOGIN, 0, true, "fake"),
                       SocketAddress{ipv4(10, 1, 0, 0) + fake, 9});
    }
    server.flush();
    NetMessage ack = make_message(KIND_ACK, 10, false);
    ack.length = 1;
    put_i32(ack.text, *answer);
    server.deliver(ack, host(250, 1));
    ASSERT_TRUE(server.event.has_value());
    EXPECT_EQ(server.event->name, "real");
    EXPECT_EQ(server.peers().size(), MAX_WAITING_PEERS + 1) << "the fakes kept nothing";
}

// Lines said while a login waits are held for it, not lost, and a waiting login is kept
// for as long as its answer may wait for the ack (a real client is quiet until it hears).
TEST(ServerLogin, WhatIsSaidWhileALoginWaitsReachesItOnceConfirmed) {
    NodeHarness server(true);
    log_in(server, "ann", host(11));
    server.deliver(make_message(KIND_LOGIN, 0, true, "bob"), host(12));
    server.deliver(make_message(KIND_CHAT, 10, true, "early"), host(11));
    server.node.broadcast_chat("from boss", true);
    for (int second = 0; second < 20; ++second) {
        server.deliver(make_message(KIND_CHAT, 11 + second, true, "."), host(11));
        server.advance(1.0);
    }
    for (const auto& sent : server.take()) {
        EXPECT_TRUE(sent.to != host(12) || sent.message.kind == KIND_LOGIN_ACCEPTED ||
                    sent.message.kind == KIND_ACK);
    }
    ASSERT_TRUE(confirm(server, host(12)).has_value());
    const auto& to_bob = server.peers()[1].channel.reliable_queue;
    ASSERT_EQ(to_bob.size(), 22U);
    EXPECT_EQ(read_text_at(to_bob[0].text, RELAY_LINE_OFFSET), "early");
    EXPECT_EQ(read_text(to_bob[1]), "from boss");
    EXPECT_EQ(to_bob[1].id, to_bob[0].id + 1) << "ids given on release, in order";
}

// A datagram from a peer's address with an id its counter could not have reached is
// neither acknowledged nor taken, and moves nothing: the peer's own lines are relayed.
TEST_F(ServerDispatch, AForgedFarAheadIdDoesNotMuteThePeer) {
    EXPECT_FALSE(harness.deliver(make_message(KIND_CHAT, 10 + 0x7FFFFFF0, true, "forged"), a));
    EXPECT_TRUE(harness.flush().empty());
    for (std::int32_t id = 11; id <= 20; ++id) {
        EXPECT_TRUE(harness.deliver(make_message(KIND_CHAT, id, true, "real"), a)) << id;
    }
    harness.flush();
    EXPECT_EQ(of_kind(harness.flush(), KIND_CHAT_RELAY).size(), 2U * 10U);
}

// A session that leaves what the room says unacknowledged holds back its own lines and
// no one else's: the author it does not acknowledge talks on, however long, and once the
// silent session has taken what it was sent, its lines are taken again.
TEST_F(ServerDispatch, OnlyItsOwnBacklogHoldsASessionBack) {
    std::int32_t id = 10;
    for (std::size_t line = 0; line < BACKLOG_BEFORE_HOLD + 50; ++line) {
        EXPECT_TRUE(harness.deliver(make_message(KIND_CHAT, id++, true, "talk"), b)) << line;
    }
    EXPECT_EQ(harness.node.counters().held_back_lines, 0U);
    EXPECT_FALSE(harness.deliver(make_message(KIND_CHAT, 10, true, "held"), a));
    EXPECT_EQ(harness.node.counters().held_back_lines, 1U);
    std::int32_t ack_id = 11;
    for (const NetMessage& queued : reliable_to(0)) {
        NetMessage ack = make_message(KIND_ACK, ack_id++, false);
        ack.length = 1;
        put_i32(ack.text, queued.id);
        harness.deliver(ack, a);
    }
    EXPECT_TRUE(harness.deliver(make_message(KIND_CHAT, ack_id, true, "caught up"), a));
}

// A client restarted on its old port logs in from a confirmed session's address: it is
// answered as a new login, and its ack ends the old session and starts the new one. A
// login under another name from there (a forger's) gets nothing.
TEST(ServerLogin, ALoginFromAConfirmedPortStartsTheSessionAgain) {
    NodeHarness server(true);
    log_in(server, "ann", host(11, 40001));
    log_in(server, "bob", host(12, 40002));
    const auto queued_to_bob = server.peers()[1].channel.reliable_queue.size();
    EXPECT_FALSE(server.deliver(make_message(KIND_LOGIN, 0, true, "eve"), host(11, 40001)));
    EXPECT_TRUE(of_kind(server.flush(), KIND_LOGIN_ACCEPTED).empty());
    EXPECT_FALSE(server.deliver(make_message(KIND_LOGIN, 0, true, "ann"), host(11, 40001)));
    EXPECT_EQ(server.peers()[1].channel.reliable_queue.size(), queued_to_bob);
    const auto again = confirm(server, host(11, 40001));
    ASSERT_TRUE(again.has_value());
    EXPECT_TRUE(again->replaced_earlier);
    EXPECT_EQ(server.peers().size(), 2U);
    const auto& told_bob = server.peers()[0].channel.reliable_queue;
    ASSERT_GE(told_bob.size(), queued_to_bob + 2);
    EXPECT_EQ(told_bob[told_bob.size() - 2].kind, KIND_PEER_LOGGED_OUT);
    EXPECT_EQ(told_bob.back().kind, KIND_PEER_LOGGED_IN);
    EXPECT_FALSE(confirm(server, host(11, 40001)).has_value()) << "the answer is taken once";
}

TEST_F(ServerDispatch, ChatIsRelayedToEveryOtherPeerWithTheAuthorsName) {
    for (std::size_t i = 0; i < 3; ++i) {
        harness.peers()[i].channel.reliable_queue.clear();
    }
    NetMessage chat = make_message(KIND_CHAT, 10, true, "hello there");
    chat.reserved = 9;
    ASSERT_TRUE(harness.deliver(chat, b).has_value());
    EXPECT_TRUE(reliable_to(1).empty()) << "the author gets no copy";
    for (std::size_t other : {0U, 2U}) {
        const auto queued = reliable_to(other);
        ASSERT_EQ(queued.size(), 1U);
        EXPECT_EQ(queued[0].kind, KIND_CHAT_RELAY);
        EXPECT_EQ(queued[0].length, chat.length);
        EXPECT_EQ(queued[0].reserved, 9);
        EXPECT_EQ(read_text_at(queued[0].text, 0), "bob");
        EXPECT_EQ(queued[0].text[3], 0);
        EXPECT_EQ(read_text_at(queued[0].text, 14), "hello there");
    }
}

TEST_F(ServerDispatch, UnreliableChatIsRelayedUnreliably) {
    harness.deliver(make_message(KIND_CHAT, 10, false, "quick"), a);
    const auto relays = of_kind(harness.flush(), KIND_CHAT_RELAY);
    ASSERT_EQ(relays.size(), 2U);
    EXPECT_EQ(relays[0].message.reliable, 0);
    EXPECT_EQ(relays[0].to, b);
    EXPECT_EQ(relays[1].to, c);
}

TEST_F(ServerDispatch, RelayCutsNameToThirteenAndLineToFortyNine) {
    harness.peers()[0].name = std::string(40, 'N');
    harness.peers()[1].channel.reliable_queue.clear();
    harness.deliver(make_message(KIND_CHAT, 10, true, std::string(64, 'L')), a);
    const auto queued = reliable_to(1);
    ASSERT_EQ(queued.size(), 1U);
    EXPECT_EQ(read_text_at(queued[0].text, 0), std::string(13, 'N'));
    EXPECT_EQ(read_text_at(queued[0].text, 14), std::string(49, 'L'));
}

TEST_F(ServerDispatch, NameChangeIsAnnouncedToTheOthersAndNoticed) {
    for (std::size_t i = 0; i < 3; ++i) {
        harness.peers()[i].channel.reliable_queue.clear();
    }
    harness.deliver(make_message(KIND_NICK_CHANGE, 10, true, "annie"), a);
    EXPECT_EQ(harness.peers()[0].name, "annie");
    ASSERT_TRUE(harness.event.has_value());
    EXPECT_EQ(harness.event->earlier_name + " to " + harness.event->name, "ann to annie");
    EXPECT_TRUE(reliable_to(0).empty());
    ASSERT_EQ(reliable_to(2).size(), 1U);
    EXPECT_EQ(reliable_to(2)[0].kind, KIND_NICK_NOTICE);
    EXPECT_EQ(read_text(reliable_to(2)[0]), "ann changed nick to annie");
}

TEST_F(ServerDispatch, LongNameChangeNoticeIsCutToTheArea) {
    harness.peers()[0].name = std::string(40, 'o');
    harness.peers()[1].channel.reliable_queue.clear();
    harness.deliver(make_message(KIND_NICK_CHANGE, 10, true, std::string(40, 'n')), a);
    const auto queued = reliable_to(1);
    ASSERT_EQ(queued.size(), 1U);
    EXPECT_EQ(queued[0].length, 64);
    const std::string notice = std::string(40, 'o') + " changed nick to " + std::string(40, 'n');
    EXPECT_EQ(read_text(queued[0]), notice.substr(0, 64));
}

TEST_F(ServerDispatch, LogoutRemovesThePeerAndTellsTheRest) {
    for (std::size_t i = 0; i < 3; ++i) {
        harness.peers()[i].channel.reliable_queue.clear();
    }
    // A forger's, with an id bob's counter is nowhere near: bob is asked, not removed.
    harness.now += std::chrono::seconds(2);
    EXPECT_FALSE(harness.deliver(make_message(KIND_LOGOUT, 12 + (1 << 20), false, "bob"), b));
    EXPECT_EQ(of_kind(harness.flush(), KIND_PING).size(), 1U);
    NetMessage logout = make_message(KIND_LOGOUT, 12, false, "bob");
    logout.reserved = 3;
    const auto delivered = harness.deliver(logout, b);
    ASSERT_TRUE(delivered.has_value());
    EXPECT_EQ(read_text(delivered->message), "bob");
    EXPECT_FALSE(delivered->peer.has_value());
    ASSERT_EQ(harness.peers().size(), 2U);
    for (std::size_t i = 0; i < 2; ++i) {
        const auto queued = reliable_to(i);
        ASSERT_EQ(queued.size(), 1U);
        EXPECT_EQ(queued[0].kind, KIND_PEER_LOGGED_OUT);
        EXPECT_EQ(read_text(queued[0]), "bob");
        EXPECT_EQ(queued[0].reserved, 3);
    }
}

TEST_F(ServerDispatch, DuplicatesOfChatLoginAndNamesDoNothingBeyondTheirAck) {
    harness.deliver(make_message(KIND_CHAT, 10, true, "once"), a);
    harness.deliver(make_message(KIND_NICK_CHANGE, 11, true, "annie"), a);
    harness.flush();
    for (std::size_t i = 0; i < 3; ++i) {
        harness.peers()[i].channel.reliable_queue.clear();
    }
    static_cast<void>(harness.node.take_events());
    EXPECT_FALSE(harness.deliver(make_message(KIND_CHAT, 10, true, "once"), a));
    EXPECT_FALSE(harness.deliver(make_message(KIND_NICK_CHANGE, 11, true, "annie"), a));
    EXPECT_FALSE(harness.deliver(make_message(KIND_NICK_NOTICE, 11, true, "x"), a));
    EXPECT_EQ(harness.peers()[0].name, "annie");
    EXPECT_TRUE(harness.node.events().empty());
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(reliable_to(i).empty());
    }
    EXPECT_EQ(of_kind(harness.flush(), KIND_ACK).size(), 3U);
}

}  // namespace
}  // namespace tw
