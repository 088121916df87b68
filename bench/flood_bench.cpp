// A hostile LAN against one server, all in this process and in simulated time: the
// datagrams go between the nodes' transmitters and `dispatch`, each from an address of
// its own. These run once each; the figures are counts, bytes and simulated seconds.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "bench_server.h"
#include "chat/chat_app.h"

namespace tw::bench {

namespace {

constexpr float FRAME = 0.01F;

std::uint64_t heap_bytes() {
    const HeapTally tally = heap_tally();
    return tally.live_bytes + MALLOC_BLOCK_HEADER * tally.live_blocks;
}

struct InFlight {
    SocketAddress from;
    WireRecord record;
};

// One real client: a node of its own whose datagrams reach the server's inbox.
struct RealClient {
    SocketAddress address;
    NetNode node;
    std::deque<WireRecord> inbox;
};

// The server with two real clients and an attacker's addresses around it. Datagrams to
// an address that is not a real client's are only counted: the attacker never answers.
class HostileLan {
  public:
    HostileLan() {
        server.change_name("boss");
        server.set_transmitter(
            [this](std::span<const std::uint8_t> datagram, std::optional<SocketAddress> to) {
                for (RealClient& client : clients) {
                    if (to && *to == client.address) {
                        WireRecord record{};
                        std::copy_n(datagram.begin(), record.size(), record.begin());
                        client.inbox.push_back(record);
                        return true;
                    }
                }
                ++sent_to_attacker;
                return true;
            });
        for (std::uint8_t k = 0; k < REAL_CLIENTS; ++k) {
            clients[k].address =
                SocketAddress{ipv4(127, 5, 0, static_cast<std::uint8_t>(k + 1)), 40000};
            RealClient& client = clients[k];
            client.node.change_name(std::array{"ann", "bob", "cat"}[k]);
            client.node.set_transmitter([this, &client](std::span<const std::uint8_t> datagram,
                                                        std::optional<SocketAddress>) {
                InFlight flight{client.address, {}};
                std::copy_n(datagram.begin(), flight.record.size(), flight.record.begin());
                inbox.push_back(flight);
                return true;
            });
        }
    }

    // Ann and bob; cat stays out until a benchmark logs it in.
    void log_in_clients() {
        for (std::size_t k = 0; k < 2; ++k) {
            clients[k].node.send_login(clients[k].node.name());
        }
        for (int frame = 0; frame < 100; ++frame) {
            step({});
        }
    }

    // One frame: the server reads within its budget and passes; each client reads all.
    void step(const std::function<void(std::size_t, const NetMessage&)>& shown) {
        for (std::size_t taken = 0; taken < RECEIVE_BUDGET && !inbox.empty(); ++taken) {
            const InFlight flight = inbox.front();
            inbox.pop_front();
            server.dispatch(flight.record, flight.from, now);
        }
        server.maintain(now);
        server.clear_events();
        for (std::size_t k = 0; k < clients.size(); ++k) {
            RealClient& client = clients[k];
            while (!client.inbox.empty()) {
                client.node.dispatch(client.inbox.front(), server_address, now);
                client.inbox.pop_front();
            }
            client.node.maintain(now);
            for (const SessionEvent& event : client.node.events()) {
                if (event.what == SessionEvent::What::message && shown) {
                    shown(k, event.message);
                }
            }
            client.node.clear_events();
        }
        clock += FRAME;
        now += from_seconds(FRAME);
    }

    SocketAddress server_address{ipv4(127, 5, 0, 100), 1210};
    NetNode server{NodeRole::server};
    static constexpr std::uint8_t REAL_CLIENTS = 3;
    std::array<RealClient, REAL_CLIENTS> clients;
    std::deque<InFlight> inbox;
    std::uint64_t sent_to_attacker = 0;
    double clock = 0.0;
    SessionTime now{0};
};

SocketAddress attacker(std::size_t index) {
    return SocketAddress{ipv4(127, 6, static_cast<std::uint8_t>(index / 250),
                              static_cast<std::uint8_t>(index % 250 + 1)),
                         5000};
}

// The first row of the issue: logins from many addresses, each address then sending one
// datagram every 4 s for 20 s and acknowledging nothing, while two real clients chat
// through the server; then 35 s without the attack.
void BM_LoginFlood(benchmark::State& state) {
    const auto fakes = static_cast<std::size_t>(state.range(0));
    constexpr double ATTACK_SECONDS = 20.0;
    constexpr double AFTER_SECONDS = 35.0;
    constexpr double LINE_EVERY = 0.5;
    for (auto _ : state) {
        const std::uint64_t heap_start = heap_bytes();
        HostileLan lan;
        lan.log_in_clients();
        const std::uint64_t sent_start = lan.server.counters().sent;
        std::uint64_t attack = 0;
        std::uint64_t peak = 0;
        std::map<std::string, std::pair<double, int>> lines;  // typed at, times shown
        std::vector<double> latencies;
        const auto shown = [&](std::size_t, const NetMessage& message) {
            if (message.kind != KIND_CHAT_RELAY) {
                return;
            }
            auto& line = lines[read_text_at(message.text, RELAY_LINE_OFFSET)];
            if (line.second++ == 0) {
                latencies.push_back(lan.clock - line.first);
            }
        };
        const auto frames_attack = static_cast<int>(ATTACK_SECONDS / FRAME);
        const auto frames_all = static_cast<int>((ATTACK_SECONDS + AFTER_SECONDS) / FRAME);
        const int period = static_cast<int>(4.0 / FRAME);
        const int line_period = static_cast<int>(LINE_EVERY / FRAME);
        for (int frame = 0; frame < frames_all; ++frame) {
            // Each address speaks once every 4 s, its turn spread over the period: a
            // login first, then logins again with fresh ids.
            for (auto f = static_cast<std::size_t>(frame % period);
                 frame < frames_attack && f < fakes; f += static_cast<std::size_t>(period)) {
                NetMessage login;
                login.id = frame;
                login.reliable = 1;
                login.kind = KIND_LOGIN;
                set_text(login, "fake" + std::to_string(f));
                lan.inbox.push_back({attacker(f), login.encode()});
                ++attack;
            }
            if (frame % line_period == 0 && frame < frames_attack) {
                RealClient& author = lan.clients[static_cast<std::size_t>(frame / line_period) % 2];
                const std::string text = author.node.name() + " " + std::to_string(frame);
                lines[text] = {lan.clock, 0};
                author.node.broadcast_chat(text, true);
            }
            lan.step(shown);
            peak = std::max(peak, heap_bytes());
        }
        const std::uint64_t sent = lan.server.counters().sent - sent_start;
        const bool every_line_once = std::all_of(
            lines.begin(), lines.end(), [](const auto& line) { return line.second.second == 1; });
        std::sort(latencies.begin(), latencies.end());
        const double p99 =
            latencies.empty()
                ? -1.0
                : latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
        state.counters["attack_datagrams"] = static_cast<double>(attack);
        state.counters["sent_per_attack"] = static_cast<double>(sent) / static_cast<double>(attack);
        state.counters["peak_heap_MB"] = static_cast<double>(peak - heap_start) / 1e6;
        state.counters["held_after_MB"] = static_cast<double>(heap_bytes() - heap_start) / 1e6;
        state.counters["peers_after"] = static_cast<double>(lan.server.peers().size());
        state.counters["lines"] = static_cast<double>(lines.size());
        state.counters["every_line_once"] = every_line_once ? 1.0 : 0.0;
        state.counters["p99_latency_s"] = p99;
        state.counters["refused"] = static_cast<double>(lan.server.counters().refused_logins);
        state.counters["abandoned"] = static_cast<double>(lan.server.counters().abandoned_logins);
    }
}
BENCHMARK(BM_LoginFlood)
    ->ArgName("addresses")
    ->Arg(1000)
    ->Arg(2000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// A blind forger: from each of 1,000 addresses a login, then in the next frame an ack of
// every id it could guess for the answer (the first ids a session counts from, and their
// neighbours), all within 10 s. Cat logs in halfway through; what counts is whether any
// fake is announced to ann and bob, what the fakes are sent per attack datagram, the heap
// at its peak and how long cat waits.
void BM_BlindConfirmationFlood(benchmark::State& state) {
    constexpr std::size_t FAKES = 1000;
    constexpr std::int32_t GUESSES = 6;
    constexpr int ATTACK_FRAMES = static_cast<int>(10.0 / FRAME);
    constexpr int ALL_FRAMES = static_cast<int>(40.0 / FRAME);
    for (auto _ : state) {
        const std::uint64_t heap_start = heap_bytes();
        HostileLan lan;
        lan.log_in_clients();
        RealClient& cat = lan.clients[2];
        std::uint64_t attack = 0;
        std::uint64_t peak = 0;
        std::uint64_t fakes_announced = 0;
        double cat_sent_at = -1.0;
        double cat_in_after = -1.0;
        const auto shown = [&](std::size_t, const NetMessage& message) {
            fakes_announced +=
                message.kind == KIND_PEER_LOGGED_IN && read_text(message).starts_with("fake") ? 1U
                                                                                              : 0U;
        };
        for (int frame = 0; frame < ALL_FRAMES; ++frame) {
            const auto f = static_cast<std::size_t>(frame / 2) * FAKES * 2 / ATTACK_FRAMES;
            for (std::size_t k = f; frame < ATTACK_FRAMES && k < f + FAKES * 2 / ATTACK_FRAMES;
                 ++k) {
                NetMessage forged;
                forged.reliable = frame % 2 == 0 ? 1 : 0;
                forged.kind = frame % 2 == 0 ? KIND_LOGIN : KIND_ACK;
                set_text(forged, "fake" + std::to_string(k));
                for (std::int32_t guess = 0; guess < (frame % 2 == 0 ? 1 : GUESSES); ++guess) {
                    if (forged.kind == KIND_ACK) {
                        forged.length = 1;
                        forged.text = {};
                        put_i32(forged.text, FIRST_MESSAGE_ID + guess);
                    }
                    lan.inbox.push_back({attacker(k), forged.encode()});
                    ++attack;
                }
            }
            if (frame == ATTACK_FRAMES / 2) {
                cat.node.send_login(cat.node.name());
                cat_sent_at = lan.clock;
            }
            const auto cat_at = lan.server.find_peer(cat.address);
            if (cat_in_after < 0.0 && cat_at && !lan.server.peers()[*cat_at].waiting()) {
                cat_in_after = lan.clock - cat_sent_at;
            }
            lan.step(shown);
            peak = std::max(peak, heap_bytes());
        }
        state.counters["attack_datagrams"] = static_cast<double>(attack);
        state.counters["fakes_announced"] = static_cast<double>(fakes_announced);
        state.counters["to_fakes_per_attack"] =
            static_cast<double>(lan.sent_to_attacker) / static_cast<double>(attack);
        state.counters["peak_heap_MB"] = static_cast<double>(peak - heap_start) / 1e6;
        state.counters["cat_login_s"] = cat_in_after;
        state.counters["cookies"] = static_cast<double>(lan.server.counters().cookie_logins);
        state.counters["peers_after"] = static_cast<double>(lan.server.peers().size());
    }
}
BENCHMARK(BM_BlindConfirmationFlood)->Iterations(1)->Unit(benchmark::kMillisecond);

// One address logging in 100,000 times with fresh ids and acknowledging nothing, a
// hundred logins a frame.
void BM_ReloginFlood(benchmark::State& state) {
    constexpr std::int32_t LOGINS = 100000;
    for (auto _ : state) {
        const std::uint64_t heap_start = heap_bytes();
        NetNode server{NodeRole::server};
        server.set_transmitter(
            [](std::span<const std::uint8_t>, std::optional<SocketAddress>) { return true; });
        std::uint64_t peak = 0;
        SessionTime now{0};
        for (std::int32_t id = 1; id <= LOGINS; ++id) {
            NetMessage login;
            login.id = id;
            login.reliable = 1;
            login.kind = KIND_LOGIN;
            set_text(login, "again");
            server.dispatch(login.encode(), attacker(0), now);
            if (id % 100 == 0) {
                now += from_seconds(FRAME);
                server.maintain(now);
                peak = std::max(peak, heap_bytes());
            }
        }
        state.counters["peak_heap_bytes"] = static_cast<double>(peak - heap_start);
        state.counters["sent_per_login"] =
            static_cast<double>(server.counters().sent) / double{LOGINS};
    }
}
BENCHMARK(BM_ReloginFlood)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace tw::bench
