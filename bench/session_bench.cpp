// The session layer alone: dispatch and the maintenance pass on a server with many
// peers, datagrams captured by a transmitter that drops them, no socket and no clock.
#include <benchmark/benchmark.h>

#include <vector>

#include "alloc_counter.h"
#include "bench_server.h"
#include "node_access.h"

namespace tw::bench {

namespace {

// Queues are emptied after this many lines, as acknowledgements would empty them; often
// enough that a queue never grows past its first few allocations, rarely enough that
// the emptying costs little beside the lines themselves.
constexpr std::size_t LINES_BETWEEN_DRAINS = 64;

constexpr SessionTime FRAME = std::chrono::nanoseconds(1'000'000'000 / 60);
// Past the first ping (5 s) and three resend rounds (2 s each) at 60 frames a second.
constexpr std::size_t WARM_UP_FRAMES = 360;

// Stands in for the acknowledgements and pongs of live clients, which would otherwise
// time the peers out after ten seconds of frames. Every five seconds is enough, and
// costs the pass next to nothing.
class KeepAlive {
  public:
    void operator()(NetNode& node, SessionTime now) {
        if (++frames < FRAMES_BETWEEN) {
            return;
        }
        frames = 0;
        // Stands in for a peer that is heard from and acknowledges now and then, though
        // never what the benchmark keeps queued.
        for (Peer& peer : test::NodeAccess::peers(node)) {
            peer.heard_at = now;
            peer.unacknowledged_since = now;
        }
    }

  private:
    static constexpr int FRAMES_BETWEEN = 300;
    int frames = 0;
};

void count_per_item(benchmark::State& state, double items_per_iteration) {
    const double items = items_per_iteration * static_cast<double>(state.iterations());
    state.SetItemsProcessed(static_cast<std::int64_t>(items));
    state.counters["time/item"] =
        benchmark::Counter(items, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void count_allocations(benchmark::State& state, std::uint64_t before) {
    const auto made = static_cast<double>(heap_tally().allocations - before);
    state.counters["allocs/iter"] = benchmark::Counter(made, benchmark::Counter::kAvgIterations);
}

// One chat line from a client reaches a server with P peers: it is attributed to its
// sender, remembered, acknowledged and relayed reliably to the P - 1 others. The senders
// take turns, so the peer lookup sees every position, and every line carries an id its
// sender has not used before, as a real client's lines do.
void BM_DispatchChat(benchmark::State& state) {
    const auto peer_count = static_cast<std::size_t>(state.range(0));
    NetNode server{NodeRole::server};
    admit_peers(server, peer_count);
    std::vector<SocketAddress> senders;
    for (std::size_t i = 0; i < peer_count; ++i) {
        senders.push_back(simulated_host(i));
    }
    NetMessage chat = *NetMessage::decode(chat_record(0));
    std::int32_t id = FIRST_MESSAGE_ID;
    std::size_t sender = 0;
    std::size_t lines = 0;
    const auto one_line = [&] {
        chat.id = id;
        server.dispatch(chat.encode(), senders[sender], SessionTime{0});
        benchmark::DoNotOptimize(server.events().back());
        if (++sender == peer_count) {
            sender = 0;
            ++id;
        }
        if (++lines == LINES_BETWEEN_DRAINS) {
            lines = 0;
            clear_queues(server);
        }
    };
    // Until every queue has grown the room it needs between two drains.
    for (std::size_t line = 0; line < 2 * LINES_BETWEEN_DRAINS; ++line) {
        one_line();
    }
    const std::uint64_t before = heap_tally().allocations;
    for (auto _ : state) {
        one_line();
    }
    count_allocations(state, before);
    // One acknowledgement and P - 1 relays queued per line.
    count_per_item(state, static_cast<double>(peer_count));
    if (server.counters().duplicates != 0) {
        state.SkipWithError("a line was taken for a duplicate");
    }
}
BENCHMARK(BM_DispatchChat)->ArgName("peers")->Arg(1)->Arg(10)->Arg(100)->Arg(256);

// One acknowledgement reaches a server with P peers: the work is finding its sender, by
// the address text, in a table of P. A server takes P - 1 of these for every line it
// relays, so this is the cost that grows fastest with the number of clients. The ack
// matches nothing queued, so every iteration finds the same state.
void BM_DispatchAck(benchmark::State& state) {
    const auto peer_count = static_cast<std::size_t>(state.range(0));
    NetNode server{NodeRole::server};
    admit_peers(server, peer_count);
    std::vector<SocketAddress> senders;
    for (std::size_t i = 0; i < peer_count; ++i) {
        senders.push_back(simulated_host(i));
    }
    NetMessage ack;
    ack.kind = KIND_ACK;
    ack.length = 1;
    put_i32(ack.text, -1);
    const WireRecord record = ack.encode();
    std::size_t sender = 0;
    const std::uint64_t before = heap_tally().allocations;
    for (auto _ : state) {
        server.dispatch(record, senders[sender], SessionTime{0});
        benchmark::ClobberMemory();
        if (++sender == peer_count) {
            sender = 0;
        }
    }
    count_allocations(state, before);
    count_per_item(state, static_cast<double>(peer_count));
}
BENCHMARK(BM_DispatchAck)->ArgName("peers")->Arg(1)->Arg(10)->Arg(100)->Arg(256);

// One frame's maintenance pass at 60 frames a second over P peers, each with Q reliable
// messages waiting for their acknowledgement. Their resend timers are spread over the
// 2-second interval, so every pass copies about 1/120 of them and sends the copies of
// the pass before: the steady state of a server whose clients have gone quiet without
// acknowledging. Items are the P x Q messages walked.
void BM_Maintain(benchmark::State& state) {
    const auto peer_count = static_cast<std::size_t>(state.range(0));
    const auto pending = static_cast<std::size_t>(state.range(1));
    NetNode server{NodeRole::server};
    admit_peers(server, peer_count);
    constexpr std::size_t SPREAD = 120;
    std::size_t slot = 0;
    for (Peer& peer : test::NodeAccess::peers(server)) {
        for (std::size_t k = 0; k < pending; ++k) {
            NetMessage& relay = peer.channel.queue_message(true);
            relay.kind = KIND_CHAT_RELAY;
            set_text(relay, CHAT_LINE);
            peer.channel.reliable_queue.back().due_at =
                RESEND_INTERVAL * static_cast<std::int64_t>(slot++ % SPREAD + 1) / SPREAD;
        }
    }
    KeepAlive keep_alive;
    SessionTime now{0};
    // Six seconds of frames first, so that every resend timer has come round and every
    // peer has been pinged once: each outbox then has the room it needs.
    for (std::size_t frame = 0; frame < WARM_UP_FRAMES; ++frame) {
        now += FRAME;
        server.maintain(now);
        keep_alive(server, now);
    }
    const std::uint64_t before = heap_tally().allocations;
    for (auto _ : state) {
        now += FRAME;
        server.maintain(now);
        keep_alive(server, now);
    }
    count_allocations(state, before);
    count_per_item(state, static_cast<double>(peer_count * pending));
    if (server.peers().size() != peer_count) {
        state.SkipWithError("a peer timed out");
    }
}
BENCHMARK(BM_Maintain)
    ->ArgNames({"peers", "pending"})
    ->ArgsProduct({{1, 10, 100, 256}, {1, 10, 100, 1000}});

// An idle frame: P peers, nothing queued, pings every five seconds. Nothing here needs
// memory, so the pass must not allocate.
void BM_MaintainIdle(benchmark::State& state) {
    const auto peer_count = static_cast<std::size_t>(state.range(0));
    NetNode server{NodeRole::server};
    admit_peers(server, peer_count);
    KeepAlive keep_alive;
    SessionTime now{0};
    // Past the first pings, so that each outbox has held one datagram before.
    for (std::size_t frame = 0; frame < WARM_UP_FRAMES; ++frame) {
        now += FRAME;
        server.maintain(now);
        keep_alive(server, now);
    }
    const std::uint64_t before = heap_tally().allocations;
    for (auto _ : state) {
        now += FRAME;
        server.maintain(now);
        keep_alive(server, now);
    }
    count_allocations(state, before);
    count_per_item(state, static_cast<double>(peer_count));
}
BENCHMARK(BM_MaintainIdle)->ArgName("peers")->Arg(1)->Arg(10)->Arg(100)->Arg(256);

}  // namespace

}  // namespace tw::bench
