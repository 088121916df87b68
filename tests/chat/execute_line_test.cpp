#include <gtest/gtest.h>

#include <array>

#include "chat/chat_app.h"
#include "node_access.h"
#include "participant.h"

namespace tw {
namespace {

using test::Participant;

std::vector<std::string> texts(const Participant& p) {
    std::vector<std::string> all;
    for (const LogLine& line : p.transcript()) {
        all.push_back(line.text);
    }
    return all;
}

// The interpreter on a participant whose "server" is a plain socket of the test's own,
// so that nothing here reaches the real chat port.
class Interpreter : public ::testing::Test {
  protected:
    Interpreter() : me(ipv4(127, 0, 0, 31)) {
        server.set_local_ip(ipv4(127, 0, 0, 30));
        server.open_socket(false);
        server.bind_port(0);
        me.objects.port = server.local_address().value_or(SocketAddress{}).port;
    }

    std::optional<NetMessage> next_datagram() {
        std::array<std::uint8_t, 200> buffer{};
        if (!server.wait_readable(5000)) {
            return std::nullopt;
        }
        const auto got = server.receive_from(buffer);
        if (!got) {
            return std::nullopt;
        }
        return NetMessage::decode(std::span(buffer).first(got->size));
    }

    SocketEndpoint server;
    Participant me;
};

TEST_F(Interpreter, ConnectWithoutNickOnlyAsksForOne) {
    me.type("connect 127.0.0.30");
    EXPECT_EQ(texts(me), std::vector<std::string>{"choose name first: 'nick myname'"});
    EXPECT_TRUE(me.objects.input_line.empty());
    EXPECT_EQ(me.objects.net_node.endpoint().connect_threads_started, 0U);
}

TEST_F(Interpreter, NickThenConnectLogsIn) {
    me.type("nick bob");
    me.type("connect 127.0.0.30");
    EXPECT_EQ(texts(me),
              (std::vector<std::string>{"Nick changed to bob", "Connecting to: 127.0.0.30",
                                        "Connected.", "Logging in."}));
    const auto login = next_datagram();
    ASSERT_TRUE(login.has_value());
    EXPECT_EQ(login->kind, KIND_LOGIN);
    EXPECT_EQ(login->id, 0);
    EXPECT_EQ(read_text(*login), "bob");
}

// A login nobody answers is sent again every 2 s until the server acknowledges it, and
// reported once, after ten seconds of frames, naming the host and the port a firewall
// must let through; an answer that comes later is still taken.
TEST_F(Interpreter, UnansweredLoginIsReportedAndALateAnswerStillAccepted) {
    me.type("nick bob");
    me.type("connect 127.0.0.30");
    const auto login = next_datagram();
    ASSERT_TRUE(login.has_value());
    const std::string notice =
        "No answer from 127.0.0.30: is UDP port " + std::to_string(me.objects.port) + " open?";
    for (int frame = 0; frame < 3; ++frame) {
        me.step(1.0F);
    }
    const auto again = next_datagram();
    ASSERT_TRUE(again.has_value()) << "sent again after 2 s";
    EXPECT_EQ(again->kind, KIND_LOGIN);
    NetMessage ack;
    ack.kind = KIND_ACK;
    ack.length = 1;
    server.set_destination(
        me.objects.net_node.endpoint().local_address().value_or(SocketAddress{}));
    ASSERT_TRUE(server.send_raw(ack.encode()));
    ASSERT_TRUE(me.objects.net_node.endpoint().wait_readable(5000));
    for (int frame = 3; frame < 10; ++frame) {
        me.step(1.0F);
    }
    EXPECT_FALSE(server.wait_readable(0)) << "not sent again once the server has it";
    EXPECT_FALSE(me.saw(notice)) << "ten seconds exactly are not yet too long";
    me.step(0.5F);
    me.step(30.0F);
    EXPECT_EQ(me.count(notice), 1U);

    NetMessage accepted;
    accepted.id = 10;
    accepted.reliable = 1;
    accepted.kind = KIND_LOGIN_ACCEPTED;
    set_text(accepted, "srv");
    ASSERT_TRUE(server.send_raw(accepted.encode()));
    for (int frame = 0; frame < 100 && !me.saw("Login Accepted by srv"); ++frame) {
        me.step(0.0F);
        static_cast<void>(me.objects.net_node.endpoint().wait_readable(10));
    }
    EXPECT_TRUE(me.saw("Login Accepted by srv"));
}

// A server that refuses the login says why, and the user reads that once, instead of
// "No answer" ten seconds later.
TEST_F(Interpreter, RefusedLoginShowsTheServersReasonInsteadOfNoAnswer) {
    me.type("nick bob");
    me.type("connect 127.0.0.30");
    ASSERT_TRUE(next_datagram().has_value());
    NetMessage refusal;
    refusal.kind = KIND_LOGOUT;
    set_text(refusal, HOST_FULL_REASON);
    server.set_destination(
        me.objects.net_node.endpoint().local_address().value_or(SocketAddress{}));
    ASSERT_TRUE(server.send_raw(refusal.encode()));
    ASSERT_TRUE(server.send_raw(refusal.encode()));
    ASSERT_TRUE(me.objects.net_node.endpoint().wait_readable(5000));
    for (int frame = 0; frame < 14; ++frame) {
        me.step(1.0F);
    }
    EXPECT_EQ(me.count(HOST_FULL_REASON), 1U);
    EXPECT_FALSE(me.saw("No answer from 127.0.0.30: is UDP port " +
                        std::to_string(me.objects.port) + " open?"));
}

TEST_F(Interpreter, ConnectTakesTheLastWordAsHost) {
    me.type("nick bob");
    me.type("connect to the 127.0.0.30");
    EXPECT_TRUE(me.saw("Connecting to: 127.0.0.30"));
    EXPECT_TRUE(me.saw("Connected."));
    me.type("connection no-such-host.invalid");
    EXPECT_TRUE(me.saw("Connecting to: no-such-host.invalid"));
    EXPECT_EQ(me.transcript().back().text, "Could not Connect");
}

TEST_F(Interpreter, ReconnectStartsFromAnEmptyPeerTableAndTheNewHost) {
    me.type("nick bob");
    me.type("serve");
    Peer old;
    old.address_text = "127.0.0.30";
    test::NodeAccess::peers(me.objects.net_node).add(old);
    test::NodeAccess::endpoint(me.objects.net_node)
        .set_destination(SocketAddress{ipv4(127, 0, 0, 99), 9});
    me.type("connect 127.0.0.30");
    EXPECT_TRUE(me.objects.net_node.peers().empty());
    const auto login = next_datagram();
    ASSERT_TRUE(login.has_value()) << "the login goes to the host just connected to";
    EXPECT_EQ(login->kind, KIND_LOGIN);
}

TEST_F(Interpreter, NickTakesEverythingAfterTheFirstBlank) {
    me.type("nick bob smith");
    EXPECT_EQ(me.objects.nick, "bob smith");
    EXPECT_EQ(me.objects.net_node.name(), "bob smith");
    me.type("nickel prices");
    EXPECT_EQ(me.objects.nick, "prices");
    me.type("nick ");
    EXPECT_EQ(me.objects.nick, "prices");
    EXPECT_EQ(me.transcript().size(), 2U);
    me.type("nick");
    EXPECT_EQ(me.objects.nick, "nick") << "a lone word is its own argument";
}

TEST_F(Interpreter, NickLongerThanARelayCarriesIsRefused) {
    me.type("nick thirteen_chars");
    EXPECT_EQ(texts(me), std::vector<std::string>{"Nick too long: 13 characters at most"});
    EXPECT_TRUE(me.objects.nick.empty());
    EXPECT_TRUE(me.objects.net_node.name().empty());
    me.type("nick exactly13chr");
    EXPECT_EQ(me.objects.nick, "exactly13chr");
    me.type("nick 1234567890123");
    EXPECT_EQ(me.objects.nick, "1234567890123");
}

TEST_F(Interpreter, ServeOnlyOnce) {
    me.type("served");
    me.type("serve");
    EXPECT_EQ(texts(me), (std::vector<std::string>{"Server Started", "Server Already Started"}));
    EXPECT_TRUE(me.objects.net_node.is_server());
}

// Clients would log in to whichever program holds the port.
TEST_F(Interpreter, ServeOnAPortHeldElsewhereSaysSoAndServesNot) {
    SocketEndpoint holder;
    holder.set_local_ip(ipv4(127, 0, 0, 31));
    holder.open_socket(false);
    ASSERT_TRUE(holder.bind_port(me.objects.port));
    me.type("serve");
    EXPECT_EQ(texts(me), std::vector<std::string>{"Could not serve: UDP port " +
                                                  std::to_string(me.objects.port) + " is in use"});
    EXPECT_FALSE(me.objects.net_node.is_server());
    EXPECT_TRUE(me.objects.serve_failed);
}

TEST_F(Interpreter, CommandWordsAreCaseSensitivePrefixes) {
    ASSERT_FALSE(me.objects.net_node.serve(0).has_value());
    me.type("Nick bob");
    me.type(" serve");
    EXPECT_EQ(texts(me), (std::vector<std::string>{" <> Nick bob", " <>  serve"}));
    EXPECT_TRUE(me.objects.nick.empty());
}

// Outside a session a chat line reaches no one: it is not echoed as sent, and it stays in
// the input line with the reason. A server is always in its own room.
TEST_F(Interpreter, AChatLineIsEchoedOnlyWhereItIsSent) {
    me.type("hello");
    EXPECT_EQ(texts(me), std::vector<std::string>{"Not sent: not connected"});
    EXPECT_EQ(me.objects.input_line, "hello");
    me.type("nick bob");
    me.type("connect 127.0.0.30");
    me.type("hello");
    EXPECT_EQ(me.transcript().back().text, "Not sent: still logging in");
    me.type("serve");
    me.type("hello");
    EXPECT_EQ(me.transcript().back(), (LogLine{LineStyle::own_chat, " <bob> hello"}));
    EXPECT_TRUE(me.objects.input_line.empty());
}

TEST_F(Interpreter, LongChatLineIsSentInPiecesThatFitARelay) {
    me.type("nick bob");
    me.type("connect 127.0.0.30");
    NetMessage accepted;
    accepted.id = 10;
    accepted.reliable = 1;
    accepted.kind = KIND_LOGIN_ACCEPTED;
    set_text(accepted, "srv");
    me.objects.net_node.dispatch(accepted.encode(),
                                 server.local_address().value_or(SocketAddress{}), me.now);
    const std::string words = "the quick brown fox jumps over the lazy dog and keeps on running ";
    me.type(words + std::string(60, 'z'));
    const auto& queue = me.objects.net_node.peers()[0].channel.reliable_queue;
    ASSERT_EQ(queue.size(), 4U);
    EXPECT_EQ(read_text(queue[0]), "the quick brown fox jumps over the lazy dog and ");
    EXPECT_EQ(read_text(queue[1]), "keeps on running ");
    EXPECT_EQ(read_text(queue[2]), std::string(49, 'z'));
    EXPECT_EQ(read_text(queue[3]), std::string(11, 'z'));
    std::string joined;
    for (const NetMessage& piece : queue) {
        EXPECT_LE(piece.length, 49);
        joined += read_text(piece);
    }
    EXPECT_EQ(joined, words + std::string(60, 'z'));
    const auto& log = me.transcript();
    EXPECT_EQ(log[log.size() - 4].text, " <bob> the quick brown fox jumps over the lazy dog and ");
    EXPECT_EQ(log.back().text, " <bob> " + std::string(11, 'z'));
}

}  // namespace
}  // namespace tw
