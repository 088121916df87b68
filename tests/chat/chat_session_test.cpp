#include <gtest/gtest.h>

#include <memory>

#include "chat/chat_app.h"
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

TEST_F(ChatSession, LongLineArrivesWholeInPieces) {
    const std::string line =
        "this line is longer than one relay can carry, so it travels as several pieces in order";
    ann->type(line);
    std::string received;
    ASSERT_TRUE(frames([&] {
        received.clear();
        for (const LogLine& seen : bob->transcript()) {
            if (seen.text.rfind("<ann> ", 0) == 0) {
                received += seen.text.substr(6);
            }
        }
        return received == line;
    }));
}

TEST_F(ChatSession, LogoutOnShutdownIsShownEverywhere) {
    bob->shut_down();
    ASSERT_TRUE(
        run_frames({&server, ann.get()}, 0.01F, 200, [&] { return ann->saw("bob Logged Out"); }));
    EXPECT_TRUE(server.saw("bob Logged Out"));
    EXPECT_EQ(server.objects.net_node.peers.size(), 1U);
}

TEST_F(ChatSession, ClientWhoseServerFallsSilentTimesOut) {
    // The server stops taking frames; the client keeps running for eleven seconds.
    ASSERT_TRUE(run_frames({ann.get()}, 1.0F, 12,
                           [&] { return ann->saw("Disconnected: Session Timed Out"); }));
    EXPECT_TRUE(ann->objects.net_node.peers.empty());
    EXPECT_FALSE(ann->objects.net_node.endpoint.is_open());
}

TEST_F(ChatSession, ServerDropsASilentClientAndTellsTheOthers) {
    ASSERT_TRUE(
        run_frames({&server, ann.get()}, 1.0F, 13, [&] { return ann->saw("bob Timed Out"); }));
    EXPECT_TRUE(server.saw("bob Timed Out"));
    EXPECT_FALSE(ann->saw("Disconnected: Session Timed Out")) << "pings kept ann's session";
    EXPECT_EQ(server.objects.net_node.peers.size(), 1U);
}

TEST_F(ChatSession, RestartedClientLogsInAgainAndChatsAtOnce) {
    ann.reset();  // the process dies without a word
    ann = std::make_unique<Participant>(ANN_IP);
    ann->type("nick ann");
    ann->type("connect 127.0.0.50");
    ASSERT_TRUE(frames([&] { return ann->saw("Login Accepted by boss"); }));
    ann->type("back again");
    ASSERT_TRUE(frames([&] { return bob->saw("<ann> back again"); }));
    EXPECT_EQ(server.objects.net_node.peers.size(), 2U);
}

}  // namespace
}  // namespace tw
