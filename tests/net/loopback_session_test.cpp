#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "net/net_node.h"
#include "node_access.h"

namespace tw {
namespace {

// Nodes on their own loopback addresses talking through real sockets. The server takes
// an ephemeral port, so this runs beside anything else that uses the chat port.
class LoopbackSession : public ::testing::Test {
  protected:
    void SetUp() override {
        server.change_name("boss");
        const auto bound = server.bind(ipv4(127, 0, 0, 10), 0);
        ASSERT_TRUE(bound.has_value());
        port = bound->port;
        join(ann, 11, "ann");
        join(bob, 12, "bob");
    }

    void join(NetNode& client, std::uint8_t octet, const std::string& nick) {
        client.set_local_ip(ipv4(127, 0, 0, octet));
        SocketEndpoint& socket = test::NodeAccess::endpoint(client);
        socket.open_socket(false);
        ASSERT_TRUE(socket.connect_with_timeout("127.0.0.10", port, 5000));
        client.change_name(nick);
        client.send_login(nick);
        // In once the server has seen its answer acknowledged and shows the login.
        ASSERT_TRUE(pump([&] {
            const auto& shown = joined[&server];
            return !client.peers().empty() &&
                   std::find(shown.begin(), shown.end(), nick) != shown.end();
        }));
    }

    SessionTime now{0};

    // One frame on every node: drain the socket, then a maintenance pass.
    bool pump(const std::function<bool()>& done, int frames = 200) {
        for (int frame = 0; frame < frames && !done(); ++frame) {
            for (auto* node : {&server, &ann, &bob}) {
                while (node->receive(now)) {
                    for (const SessionEvent& event : node->take_events()) {
                        if (event.what == SessionEvent::What::joined) {
                            joined[node].push_back(event.name);
                        }
                        if (event.what == SessionEvent::What::message) {
                            delivered[node].push_back(event.message);
                        }
                    }
                }
                node->maintain(now);
            }
            now += std::chrono::milliseconds(10);
        }
        return done();
    }

    std::vector<std::string> texts(NetNode& node, std::int32_t kind) {
        std::vector<std::string> found;
        for (const NetMessage& message : delivered[&node]) {
            if (message.kind == kind) {
                found.push_back(kind == KIND_CHAT_RELAY ? read_text_at(message.text, 14)
                                                        : read_text(message));
            }
        }
        return found;
    }

    bool queues_empty(const NetNode& node) {
        for (const Peer& peer : node.peers()) {
            if (!peer.channel.reliable_queue.empty()) {
                return false;
            }
        }
        return true;
    }

    NetNode server{NodeRole::server};
    NetNode ann;
    NetNode bob;
    std::uint16_t port = 0;
    std::map<NetNode*, std::vector<NetMessage>> delivered;
    std::map<NetNode*, std::vector<std::string>> joined;
};

TEST_F(LoopbackSession, LoginIsAcceptedAndAnnounced) {
    ASSERT_EQ(server.peers().size(), 2U);
    EXPECT_EQ(server.peers()[0].address_text, "127.0.0.11");
    EXPECT_EQ(server.peers()[1].name, "bob");
    EXPECT_EQ(texts(ann, KIND_LOGIN_ACCEPTED), std::vector<std::string>{"boss"});
    EXPECT_EQ(joined[&server], (std::vector<std::string>{"ann", "bob"}));
    ASSERT_TRUE(pump([&] { return !texts(ann, KIND_PEER_LOGGED_IN).empty(); }));
    EXPECT_EQ(texts(ann, KIND_PEER_LOGGED_IN), std::vector<std::string>{"bob"});
    EXPECT_TRUE(pump([&] { return queues_empty(server) && queues_empty(ann); }))
        << "every reliable message was acknowledged";
}

TEST_F(LoopbackSession, ChatIsRelayedOnceAndAcknowledged) {
    ann.broadcast_chat("hello bob", true);
    ASSERT_TRUE(pump([&] { return !texts(bob, KIND_CHAT_RELAY).empty(); }));
    ASSERT_TRUE(pump([&] { return queues_empty(ann) && queues_empty(server); }));
    EXPECT_EQ(texts(server, KIND_CHAT), std::vector<std::string>{"hello bob"});
    EXPECT_EQ(texts(bob, KIND_CHAT_RELAY), std::vector<std::string>{"hello bob"});
    EXPECT_TRUE(texts(ann, KIND_CHAT_RELAY).empty());

    server.broadcast_chat("from the top", true);
    ASSERT_TRUE(pump(
        [&] { return texts(ann, KIND_CHAT).size() == 1 && texts(bob, KIND_CHAT).size() == 1; }));
}

// More lines in one pass than a batch of datagrams holds, to two clients: each still
// takes every line once and in the order it was typed.
TEST_F(LoopbackSession, LinesBeyondOneBatchArriveOnceAndInOrder) {
    std::vector<std::string> lines;
    for (int i = 0; i < 40; ++i) {
        lines.push_back("line " + std::to_string(i));
        server.broadcast_chat(lines.back(), true);
    }
    ASSERT_TRUE(pump([&] {
        return texts(ann, KIND_CHAT).size() >= lines.size() &&
               texts(bob, KIND_CHAT).size() >= lines.size();
    }));
    EXPECT_EQ(texts(ann, KIND_CHAT), lines);
    EXPECT_EQ(texts(bob, KIND_CHAT), lines);
}

TEST_F(LoopbackSession, LogoutIsPassedOnToTheOthers) {
    net_shutdown(bob);
    ASSERT_TRUE(pump([&] { return !texts(ann, KIND_PEER_LOGGED_OUT).empty(); }));
    EXPECT_EQ(server.peers().size(), 1U);
    EXPECT_EQ(texts(server, KIND_LOGOUT), std::vector<std::string>{"bob"});
    EXPECT_EQ(texts(ann, KIND_PEER_LOGGED_OUT), std::vector<std::string>{"bob"});
}

}  // namespace
}  // namespace tw
