#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "chat_tally.h"
#include "relayed_chat.h"

namespace tw {
namespace {

using test::ChatTally;
using test::Participant;
using ::testing::IsEmpty;

constexpr std::uint8_t BLOCK = 68;
constexpr int CLIENTS = 100;
constexpr int LINES_EACH = 20;

// Datagrams the kernel dropped because a socket's receive buffer was full, machine-wide;
// nothing when the counter cannot be read.
std::optional<long long> receive_buffer_drops() {
    std::ifstream snmp("/proc/net/snmp");
    std::string header;
    std::string values;
    while (std::getline(snmp, header) && std::getline(snmp, values)) {
        if (header.rfind("Udp:", 0) != 0) {
            continue;
        }
        std::istringstream names(header);
        std::istringstream numbers(values);
        std::string name;
        std::string number;
        while (names >> name && numbers >> number) {
            if (name == "RcvbufErrors") {
                return std::stoll(number);
            }
        }
    }
    return std::nullopt;
}

long long drops_since(const std::optional<long long>& before) {
    const auto now = receive_buffer_drops();
    return before && now ? *now - *before : -1;
}

long max_rss_kb() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// What the server's session state holds: the bytes of its peer records (remembered ids
// included, a fixed window in each) and of the storage its queues have claimed.
struct SessionState {
    std::size_t queue_bytes = 0;
};

SessionState session_state(const NetNode& node) {
    SessionState state{node.peers().capacity() * sizeof(Peer)};
    for (const Peer& peer : node.peers()) {
        state.queue_bytes +=
            (peer.channel.reliable_queue.capacity() + peer.channel.outbox.capacity()) *
            sizeof(NetMessage);
    }
    return state;
}

// One server and a hundred clients, all in this process, each on its own loopback
// address and talking to the server directly.
class HundredClients : public ::testing::Test {
  protected:
    void SetUp() override {
        server.type("nick boss");
        server.type("serve");
        const auto served = server.objects.net_node.endpoint().local_address();
        ASSERT_TRUE(served.has_value());
        for (int i = 0; i < CLIENTS; ++i) {
            auto client = std::make_unique<Participant>(
                ipv4(127, BLOCK, 1, static_cast<std::uint8_t>(i + 1)), served->port);
            client->type("nick c" + std::to_string(i));
            client->type("connect " + address_text(served->ip));
            clients.push_back(std::move(client));
        }
    }

    // A client's acceptance is judged from its session, not its log: the hundred
    // announcements of logins push it out of the five lines a log keeps.
    static bool accepted(const std::unique_ptr<Participant>& client) {
        const auto& peers = client->objects.net_node.peers();
        return peers.size() == 1 && peers.front().name == "boss";
    }

    bool all_in() const {
        return server.objects.net_node.peers().size() == CLIENTS &&
               std::all_of(clients.begin(), clients.end(), accepted) && quiet();
    }

    bool log_in_all() {
        for (int round = 0; round < 1000 && !all_in(); ++round) {
            frame();
        }
        return all_in();
    }

    std::uint64_t lines_shown(const Participant& participant) const {
        return participant.objects.chat_log.added_count();
    }

    void frame() {
        server.step(test::FRAME_SECONDS);
        for (auto& client : clients) {
            client->step(test::FRAME_SECONDS);
        }
        clock += test::FRAME_SECONDS;
        const SessionState now = session_state(server.objects.net_node);
        peak.queue_bytes = std::max(peak.queue_bytes, now.queue_bytes);
        if (tally) {
            tally->observe(clock);
        }
    }

    bool quiet() const {
        const auto settled = [](const Participant& p) {
            const auto& peers = p.objects.net_node.peers();
            return std::all_of(peers.begin(), peers.end(), [](const Peer& peer) {
                return peer.channel.reliable_queue.empty() && peer.channel.outbox.empty();
            });
        };
        return settled(server) && std::all_of(clients.begin(), clients.end(),
                                              [&](const auto& c) { return settled(*c); });
    }

    std::uint64_t datagrams_sent() const {
        std::uint64_t sent = server.objects.net_node.counters().sent;
        for (const auto& client : clients) {
            sent += client->objects.net_node.counters().sent;
        }
        return sent;
    }

    Participant server{ipv4(127, BLOCK, 0, 1), 0};
    std::vector<std::unique_ptr<Participant>> clients;
    std::optional<ChatTally> tally;
    double clock = 0.0;
    SessionState peak;
};

TEST_F(HundredClients, EveryLineReachesEveryOtherParticipantOnceWithoutTimeOuts) {
    const long rss_before = max_rss_kb();
    const auto drops_before = receive_buffer_drops();
    const auto wall_start = std::chrono::steady_clock::now();
    ASSERT_TRUE(log_in_all()) << server.objects.net_node.peers().size() << " peers, "
                              << std::count_if(clients.begin(), clients.end(), accepted)
                              << " accepted";

    std::vector<ChatTally::Member> members{{&server, "boss"}};
    for (int i = 0; i < CLIENTS; ++i) {
        members.push_back({clients[static_cast<std::size_t>(i)].get(), "c" + std::to_string(i)});
    }
    tally.emplace(std::move(members));
    const std::uint64_t sent_before = datagrams_sent();
    const double chat_start = clock;

    // One line a frame, the clients taking turns, so every client types every 100 frames.
    for (int line = 0; line < LINES_EACH; ++line) {
        for (int i = 0; i < CLIENTS; ++i) {
            tally->type(static_cast<std::size_t>(i + 1),
                        "c" + std::to_string(i) + " says " + std::to_string(line), clock);
            frame();
        }
    }
    const auto delivered = [&] { return tally->all_delivered() && quiet(); };
    for (int round = 0; round < 6000 && !delivered(); ++round) {
        frame();
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();

    EXPECT_TRUE(delivered()) << tally->deliveries() << " of " << tally->expected_deliveries();
    EXPECT_EQ(tally->expected_deliveries(),
              static_cast<std::size_t>(CLIENTS) * LINES_EACH * static_cast<std::size_t>(CLIENTS));
    EXPECT_THAT(tally->problems(), IsEmpty());
    EXPECT_THAT(tally->timeouts(), IsEmpty());
    EXPECT_EQ(server.objects.net_node.peers().size(), static_cast<std::size_t>(CLIENTS));

    const test::Spread latency = test::spread_of(tally->latencies());
    const NetCounters& at_server = server.objects.net_node.counters();
    std::printf(
        "[ figures  ] load: %d clients x %d lines, %zu deliveries in %.1f s wall, %.2f s "
        "simulated; %llu datagrams sent (%.2f per delivery), server sent %llu received %llu "
        "duplicates %llu; latency median %.3f s p99 %.3f s; server peers and queues peak %zu "
        "bytes; process max RSS grew %ld KB; kernel receive-buffer drops "
        "%lld\n",
        CLIENTS, LINES_EACH, tally->deliveries(), wall, clock - chat_start,
        static_cast<unsigned long long>(datagrams_sent() - sent_before),
        static_cast<double>(datagrams_sent() - sent_before) /
            static_cast<double>(std::max<std::size_t>(tally->deliveries(), 1)),
        static_cast<unsigned long long>(at_server.sent),
        static_cast<unsigned long long>(at_server.received),
        static_cast<unsigned long long>(at_server.duplicates), latency.median, latency.p99,
        peak.queue_bytes, max_rss_kb() - rss_before, drops_since(drops_before));
    RecordProperty("wall_seconds", std::to_string(wall));
    RecordProperty("server_queue_peak_bytes", std::to_string(peak.queue_bytes));
}

// Every client types in the same frame, twenty times over: the server relays 9900 lines
// in one pass and gets 9900 acknowledgements back before its next frame, more than its
// socket holds, so many are lost and their lines are sent again. Each log shows only
// its last five lines, so here the lines are counted rather than read: every client's
// log must grow by exactly its own echoes and every other client's lines once.
TEST_F(HundredClients, LinesTypedAllAtOnceAreEachShownOnceDespiteTheAckFlood) {
    ASSERT_TRUE(log_in_all());
    const auto drops_before = receive_buffer_drops();
    const auto wall_start = std::chrono::steady_clock::now();
    const std::uint64_t sent_before = datagrams_sent();
    const std::uint64_t server_shown_before = lines_shown(server);
    std::vector<std::uint64_t> shown_before;
    for (const auto& client : clients) {
        shown_before.push_back(lines_shown(*client));
    }

    constexpr int FRAMES_BETWEEN_BURSTS = 100;
    for (int line = 0; line < LINES_EACH; ++line) {
        for (int i = 0; i < CLIENTS; ++i) {
            clients[static_cast<std::size_t>(i)]->type("c" + std::to_string(i) + " burst " +
                                                       std::to_string(line));
        }
        for (int f = 0; f < FRAMES_BETWEEN_BURSTS; ++f) {
            frame();
        }
    }
    int extra_frames = 0;
    for (; extra_frames < 6000 && !quiet(); ++extra_frames) {
        frame();
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();

    ASSERT_TRUE(quiet()) << "acknowledgements still outstanding";
    EXPECT_EQ(server.objects.net_node.peers().size(), static_cast<std::size_t>(CLIENTS));
    EXPECT_EQ(lines_shown(server) - server_shown_before,
              static_cast<std::uint64_t>(CLIENTS) * LINES_EACH);
    for (std::size_t i = 0; i < clients.size(); ++i) {
        EXPECT_EQ(lines_shown(*clients[i]) - shown_before[i],
                  static_cast<std::uint64_t>(CLIENTS) * LINES_EACH)
            << "c" << i << ": its own echoes plus every other client's lines, once each";
        EXPECT_TRUE(accepted(clients[i])) << "c" << i << " lost its session";
    }
    const std::uint64_t datagrams = datagrams_sent() - sent_before;
    std::printf(
        "[ figures  ] burst: %d clients x %d lines typed in the same frame, acknowledged "
        "%.2f s after the last burst, %.1f s wall; %llu datagrams sent (%.2f per delivery), "
        "client duplicates %llu; kernel receive-buffer drops %lld\n",
        CLIENTS, LINES_EACH, extra_frames * static_cast<double>(test::FRAME_SECONDS), wall,
        static_cast<unsigned long long>(datagrams),
        static_cast<double>(datagrams) / (static_cast<double>(CLIENTS) * LINES_EACH * CLIENTS),
        static_cast<unsigned long long>(
            std::accumulate(clients.begin(), clients.end(), std::uint64_t{0},
                            [](std::uint64_t sum, const auto& c) {
                                return sum + c->objects.net_node.counters().duplicates;
                            })),
        drops_since(drops_before));
}

}  // namespace
}  // namespace tw
