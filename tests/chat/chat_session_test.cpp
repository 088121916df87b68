#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <utility>

#include "chat/chat_app.h"
#include "node_access.h"
#include "participant.h"

namespace tw {
namespace {

using test::Participant;
using test::run_frames;

constexpr std::uint32_t SERVER_IP = ipv4(127, 0, 0, 50);
constexpr std::uint32_t ANN_IP = ipv4(127, 0, 0, 51);
constexpr std::uint32_t BOB_IP = ipv4(127, 0, 0, 52);

// One server and two clients on the real chat port, each on its own loopback address,
// driven frame by frame with chosen frame times.
class ChatSession : public ::testing::Test {
  protected:
    void SetUp() override {
        server.type("nick boss");
        server.type("serve");
        ann = join(ANN_IP, "ann");
        bob = join(BOB_IP, "bob");
        ASSERT_TRUE(frames([&] { return ann->saw("bob Logged In"); }));
    }

    std::unique_ptr<Participant> join(std::uint32_t ip, const std::string& nick) {
        auto client = std::make_unique<Participant>(ip);
        client->type("nick " + nick);
        client->type("connect 127.0.0.50");
        EXPECT_TRUE(client->saw("Logging in."));
        auto* raw = client.get();
        EXPECT_TRUE(run_frames({&server, raw}, 0.01F, 100,
                               [&] { return raw->saw("Login Accepted by boss"); }));
        return client;
    }

    bool frames(const std::function<bool()>& done, float elapsed = 0.01F, int rounds = 200) {
        return run_frames({&server, ann.get(), bob.get()}, elapsed, rounds, done);
    }

    // A new server at the old one's address: ann comes back in by herself, and the line
    // she typed for the old one reaches the new one once.
    void expect_line_once_at_a_new_server(const std::string& line) {
        Participant again{SERVER_IP};
        again.type("nick boss");
        again.type("serve");
        const std::string shown = "<ann> " + line;
        ASSERT_TRUE(run_frames({&again, ann.get()}, 0.5F, 100, [&] { return again.saw(shown); }));
        EXPECT_TRUE(ann->saw("Sent again: 1 unacknowledged line"));
        run_frames({&again, ann.get()}, 0.5F, 10, [] { return false; });
        EXPECT_EQ(again.count(shown), 1U);
        EXPECT_FALSE(again.saw("<ann> heard")) << "a line the old server had is not sent again";
    }

    Participant server{SERVER_IP};
    std::unique_ptr<Participant> ann;
    std::unique_ptr<Participant> bob;
};

TEST_F(ChatSession, LoginIsShownOnEverySide) {
    EXPECT_TRUE(server.saw("ann Logged In"));
    EXPECT_TRUE(server.saw("bob Logged In"));
    EXPECT_TRUE(ann->saw("Login Accepted by boss"));
    EXPECT_EQ(ann->count("bob Logged In"), 1U);
    EXPECT_FALSE(bob->saw("ann Logged In")) << "only logins after one's own are announced";
}

TEST_F(ChatSession, ChatFlowsBothWaysThroughTheServer) {
    ann->type("hello all");
    ASSERT_TRUE(frames([&] { return bob->saw("<ann> hello all"); }));
    EXPECT_TRUE(server.saw("<ann> hello all"));
    EXPECT_TRUE(ann->saw(" <ann> hello all"));
    EXPECT_FALSE(ann->saw("<ann> hello all")) << "nobody gets their own line back";

    server.type("welcome");
    ASSERT_TRUE(frames([&] { return ann->saw("<boss> welcome") && bob->saw("<boss> welcome"); }));
    // Let every resend timer run out: acknowledged lines are never shown twice.
    frames([] { return false; }, 0.5F, 12);
    EXPECT_EQ(bob->count("<ann> hello all"), 1U);
    EXPECT_EQ(ann->count("<boss> welcome"), 1U);
}

TEST_F(ChatSession, NickChangeIsNoticedEverywhere) {
    ann->type("nick annie");
    ASSERT_TRUE(frames([&] { return bob->saw("ann changed nick to annie"); }));
    EXPECT_TRUE(ann->saw("Nick changed to annie"));
    EXPECT_TRUE(server.saw("ann changed nick to annie"));
    ann->type("still me");
    ASSERT_TRUE(frames([&] { return bob->saw("<annie> still me"); }));
}

// A line of hundreds of pieces, typed at a client and at the server, arrives whole
// everywhere and costs nobody its session; a longer one is refused, never cut. The
// pieces come faster than a five-line log shows them, so every line added is listened to.
TEST_F(ChatSession, LongLinesArriveWholeInPieces) {
    std::string line;
    for (int word = 0; line.size() < 30000; ++word) {
        line += "word" + std::to_string(word) + (word % 9 == 0 ? "-and-a-longer-one " : " ");
    }
    std::map<std::pair<Participant*, std::string>, std::string> received;
    for (Participant* reader : {&server, ann.get(), bob.get()}) {
        reader->objects.chat_log.set_listener([&received, reader](const LogLine& shown) {
            const auto close = shown.text.find("> ");
            if (shown.style == LineStyle::peer_chat && close != std::string::npos) {
                received[{reader, shown.text.substr(1, close - 1)}] += shown.text.substr(close + 2);
            }
        });
    }
    ann->type(line);
    server.type(line);
    ASSERT_TRUE(frames([&] {
        return received[{bob.get(), "ann"}] == line && received[{bob.get(), "boss"}] == line &&
               received[{ann.get(), "boss"}] == line && received[{&server, "ann"}] == line;
    }));
    frames([] { return false; }, 1.0F, 12);
    EXPECT_EQ(server.objects.net_node.peers().size(), 2U);
    EXPECT_FALSE(ann->saw("Disconnected: Session Timed Out"));
    const std::string from_ann = received[{bob.get(), "ann"}];
    EXPECT_EQ(from_ann, line) << "and no piece twice";

    bob->type(std::string(MAX_CHAT_LINE + 1, 'x'));
    EXPECT_TRUE(bob->saw("Line too long: 32768 characters at most"));
    EXPECT_FALSE(bob->saw(" <bob> x")) << "nothing of it is sent";
}

TEST_F(ChatSession, LogoutOnShutdownIsShownEverywhere) {
    bob->shut_down();
    ASSERT_TRUE(
        run_frames({&server, ann.get()}, 0.01F, 200, [&] { return ann->saw("bob Logged Out"); }));
    EXPECT_TRUE(server.saw("bob Logged Out"));
    EXPECT_EQ(server.objects.net_node.peers().size(), 1U);
}

// A server that dies without a word: its client notices by the silence, says so, and logs
// in again by itself once a server runs there again; a line typed before it knew is sent
// again, not lost.
TEST_F(ChatSession, ClientOfAServerThatDiedComesBackWithItsLine) {
    test::NodeAccess::endpoint(server.objects.net_node).close_socket();
    ann->type("anyone?");
    ASSERT_TRUE(run_frames({ann.get()}, 1.0F, 12,
                           [&] { return ann->saw("Disconnected: Session Timed Out"); }));
    EXPECT_TRUE(ann->saw("Not connected: logging in again"));
    ann->type("not yet");
    EXPECT_EQ(ann->objects.input_line, "not yet");
    expect_line_once_at_a_new_server("anyone?");
    EXPECT_EQ(ann->count("Login Accepted by boss"), 2U);
}

// A server restarted before its client noticed: the new one answers the client's resend
// with "no session", and the line still reaches it once.
TEST_F(ChatSession, ServerRestartedUnnoticedGetsTheLineOnce) {
    test::NodeAccess::endpoint(server.objects.net_node).close_socket();
    ann->type("anyone?");
    expect_line_once_at_a_new_server("anyone?");
}

// A server that says goodbye, as one restarted cleanly does: the line its client typed
// just before is kept until the client is back in and then sent once; a line the old
// server acknowledged is not sent again.
TEST_F(ChatSession, ServerThatSaysGoodbyeCostsNoLineAndRepeatsNone) {
    ann->type("heard");
    ASSERT_TRUE(frames([&] { return bob->saw("<ann> heard"); }));
    ann->type("in flight");
    server.shut_down();
    ASSERT_TRUE(run_frames({ann.get()}, 0.01F, 100,
                           [&] { return ann->saw("Not connected: logging in again"); }));
    EXPECT_FALSE(ann->saw("Sent again: 1 unacknowledged line")) << "not while out";
    expect_line_once_at_a_new_server("in flight");
}

// Clients that lose their server in the same frame do not come back in step, and none
// waits longer than 10 s between attempts.
TEST_F(ChatSession, ClientsOfALostServerSpreadTheirAttempts) {
    test::NodeAccess::endpoint(server.objects.net_node).close_socket();
    std::set<SessionTime::rep> waits;
    for (int second = 0; second < 90; ++second) {
        run_frames({ann.get(), bob.get()}, 1.0F, 1, [] { return false; });
        for (Participant* client : {ann.get(), bob.get()}) {
            const ClientSession& session = client->objects.net_node.client_session();
            if (const auto* lost = std::get_if<phase::Lost>(&session.now_in)) {
                waits.insert(lost->wait.count());
            }
        }
    }
    EXPECT_GE(waits.size(), 6U) << "waits of their own, growing";
    EXPECT_LE(SessionTime{*waits.rbegin()}, std::chrono::seconds(10));
}

// "serve" typed in a connected client: with its port held it stays in its session; with
// the port free it says goodbye to its server first and keeps none of its old session.
TEST_F(ChatSession, ServeInAClientKeepsItsSessionOrEndsItCleanly) {
    {
        SocketEndpoint holder;
        holder.set_local_ip(ANN_IP);
        holder.open_socket(false);
        ASSERT_TRUE(holder.bind_port(CHAT_PORT));
        ann->type("serve");
        EXPECT_TRUE(ann->saw("Could not serve: UDP port 1210 is in use"));
    }
    ann->type("still here");
    ASSERT_TRUE(frames([&] { return bob->saw("<ann> still here"); }));

    ann->type("serve");
    ASSERT_TRUE(ann->saw("Server Started"));
    EXPECT_TRUE(ann->objects.net_node.peers().empty());
    ASSERT_TRUE(frames([&] { return bob->saw("ann Logged Out"); }));
    EXPECT_TRUE(server.saw("ann Logged Out")) << "a goodbye, not a time-out";
}

TEST_F(ChatSession, ServerDropsASilentClientAndTellsTheOthers) {
    ASSERT_TRUE(
        run_frames({&server, ann.get()}, 1.0F, 13, [&] { return ann->saw("bob Timed Out"); }));
    EXPECT_TRUE(server.saw("bob Timed Out"));
    EXPECT_FALSE(ann->saw("Disconnected: Session Timed Out")) << "pings kept ann's session";
    EXPECT_EQ(server.objects.net_node.peers().size(), 1U);
}

TEST_F(ChatSession, RestartedClientLogsInAgainAndChatsAtOnce) {
    ann.reset();  // the process dies without a word
    ann = std::make_unique<Participant>(ANN_IP);
    ann->type("nick ann");
    ann->type("connect 127.0.0.50");
    ASSERT_TRUE(frames([&] { return ann->saw("Login Accepted by boss"); }));
    ann->type("back again");
    ASSERT_TRUE(frames([&] { return bob->saw("<ann> back again"); }));
    EXPECT_EQ(server.objects.net_node.peers().size(), 2U);
    EXPECT_TRUE(bob->saw("ann Logged Out")) << "the old session is seen to end";
}

}  // namespace
}  // namespace tw
