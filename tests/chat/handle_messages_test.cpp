#include <gtest/gtest.h>

#include "chat/chat_app.h"
#include "participant.h"

namespace tw {
namespace {

using test::Participant;

// A client participant fed crafted datagrams from a "server" socket on another address.
class Reactions : public ::testing::Test {
  protected:
    Reactions() : me(ipv4(127, 0, 0, 32)) {
        me.objects.net_node.bind(ipv4(127, 0, 0, 32), 0);
        sender.set_local_ip(ipv4(127, 0, 0, 33));
        sender.open_socket(false);
        sender.bind_port(0);
        sender.set_destination(
            me.objects.net_node.endpoint().local_address().value_or(SocketAddress{}));
        send(make(KIND_LOGIN_ACCEPTED, "srv"));
        me.step(0.0F);
    }

    NetMessage make(std::int32_t kind, std::string_view text, bool reliable = true) {
        NetMessage message;
        message.id = next_id++;
        message.kind = kind;
        message.reliable = reliable ? 1 : 0;
        set_text(message, text);
        return message;
    }
    void send(const NetMessage& message) { ASSERT_TRUE(sender.send_raw(message.encode())); }
    LogLine last() const { return me.transcript().back(); }

    Participant me;
    SocketEndpoint sender;
    std::int32_t next_id = 10;
};

TEST_F(Reactions, AcceptanceNamesTheServerForItsLaterLines) {
    EXPECT_EQ(last(), (LogLine{LineStyle::notice, "Login Accepted by srv"}));
    ASSERT_EQ(me.objects.net_node.peers().size(), 1U);
    EXPECT_EQ(me.objects.net_node.peers()[0].name, "srv");
    send(make(KIND_CHAT, "yo"));
    me.step(0.0F);
    EXPECT_EQ(last(), (LogLine{LineStyle::peer_chat, "<srv> yo"}));
}

TEST_F(Reactions, ChatTextIsCutToLength) {
    NetMessage chat = make(KIND_CHAT, "hello world");
    chat.length = 5;
    send(chat);
    me.step(0.0F);
    EXPECT_EQ(last().text, "<srv> hello");
}

TEST_F(Reactions, RelayIsReadFromItsTwoSlots) {
    NetMessage relay = make(KIND_CHAT_RELAY, "");
    write_text_at(relay.text, 0, RELAY_NAME_MAX, "ann");
    write_text_at(relay.text, RELAY_LINE_OFFSET, RELAY_LINE_MAX, "hi");
    relay.length = 57;
    send(relay);
    me.step(0.0F);
    EXPECT_EQ(last(), (LogLine{LineStyle::peer_chat, "<ann> hi"}));
}

TEST_F(Reactions, RelayWithUnterminatedNameRunsIntoTheLine) {
    NetMessage relay = make(KIND_CHAT_RELAY, std::string(64, 'q'));
    send(relay);
    me.step(0.0F);
    EXPECT_EQ(last().text, "<" + std::string(64, 'q') + "> " + std::string(50, 'q'));
}

TEST_F(Reactions, NoticesForComingAndGoing) {
    const std::vector<std::pair<std::int32_t, std::string>> cases = {
        {KIND_LOGIN, "ann Logged In"},
        {KIND_PEER_LOGGED_IN, "ann Logged In"},
        {KIND_PEER_LOGGED_OUT, "ann Logged Out"},
        {KIND_PEER_TIMED_OUT, "ann Timed Out"}};
    for (const auto& [kind, expected] : cases) {
        send(make(kind, "ann"));
        me.step(0.0F);
        EXPECT_EQ(last(), (LogLine{LineStyle::notice, expected})) << "kind " << kind;
    }
    send(make(KIND_LOGOUT, "ann", false));
    me.step(0.0F);
    EXPECT_EQ(me.count("ann Logged Out"), 2U);
    EXPECT_TRUE(me.objects.net_node.peers().empty());
}

TEST_F(Reactions, SessionKindsAddNoLine) {
    const auto before = me.transcript().size();
    for (std::int32_t kind : {KIND_ACK, KIND_PING, KIND_PONG, 106, 4242}) {
        NetMessage message = make(kind, "", false);
        message.length = 1;
        send(message);
    }
    me.step(0.0F);
    me.step(0.0F);
    EXPECT_EQ(me.transcript().size(), before);
}

// A logout or an answer without a name is never delivered, yet the server's coming and
// going is shown: by the name it had, or else by its address.
TEST_F(Reactions, NamelessServerIsStillSeenToLeaveAndToAccept) {
    send(make(KIND_LOGOUT, "", false));
    me.step(0.0F);
    EXPECT_TRUE(me.saw("srv Logged Out"));
    EXPECT_TRUE(me.objects.net_node.peers().empty());
    // Another client, whose server never had a name.
    Participant other(ipv4(127, 0, 0, 34));
    other.objects.net_node.bind(ipv4(127, 0, 0, 34), 0);
    sender.set_destination(
        other.objects.net_node.endpoint().local_address().value_or(SocketAddress{}));
    send(make(KIND_LOGIN_ACCEPTED, ""));
    other.step(0.0F);
    EXPECT_EQ(other.transcript().back(),
              (LogLine{LineStyle::notice, "Login Accepted by 127.0.0.33"}));
    send(make(KIND_LOGOUT, "", false));
    other.step(0.0F);
    EXPECT_TRUE(other.saw("127.0.0.33 Logged Out"));
}

// The session layer's events of one frame are shown in the order they happened, each in
// the application's own words.
TEST_F(Reactions, EventsOfOneFrameAppearInTheOrderTheyHappened) {
    send(make(KIND_NICK_CHANGE, "C"));
    send(make(KIND_LOGOUT, "", false));
    ASSERT_TRUE(me.objects.net_node.endpoint().wait_readable(5000));
    me.step(0.0F);
    const auto& log = me.transcript();
    ASSERT_GE(log.size(), 3U);
    EXPECT_EQ(log[log.size() - 3].text, "srv changed nick to C");
    EXPECT_EQ(log[log.size() - 2].text, "C Logged Out");
    EXPECT_EQ(log[log.size() - 1].text, "Not connected: logging in again");
    EXPECT_TRUE(me.objects.net_node.events().empty());
}

TEST_F(Reactions, DuplicateChatIsShownOnce) {
    const NetMessage chat = make(KIND_CHAT, "only once");
    send(chat);
    send(chat);
    me.step(0.0F);
    me.step(0.0F);
    EXPECT_EQ(me.count("<srv> only once"), 1U);
}

// A datagram that is taken but not delivered (here a duplicate) does not end the frame's
// reading: the line behind it is shown in the same frame.
TEST_F(Reactions, LineBehindADuplicateIsShownInTheSameFrame) {
    const NetMessage chat = make(KIND_CHAT, "first");
    send(chat);
    send(chat);
    send(make(KIND_CHAT, "second"));
    ASSERT_TRUE(me.objects.net_node.endpoint().wait_readable(5000));
    me.step(0.0F);
    EXPECT_TRUE(me.saw("<srv> second"));
}

// A frame reads at most its budget, so a flood leaves time for the rest of the frame;
// what is left is read by the next frames, none of it lost.
TEST_F(Reactions, AFrameReadsAtMostItsBudget) {
    const std::uint64_t before = me.objects.net_node.counters().received;
    const std::size_t flood = RECEIVE_BUDGET + 44;
    for (std::size_t i = 0; i < flood; ++i) {
        send(make(KIND_PING, "", false));
    }
    ASSERT_TRUE(me.objects.net_node.endpoint().wait_readable(5000));
    me.step(0.0F);
    EXPECT_EQ(me.objects.net_node.counters().received - before, RECEIVE_BUDGET);
    me.step(0.0F);
    EXPECT_EQ(me.objects.net_node.counters().received - before, flood);
}

}  // namespace
}  // namespace tw
