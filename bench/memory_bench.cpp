// What a peer and a remembered message id cost in memory. These run once each: the
// figures are byte counts from the counting operator new, not times.
#include <benchmark/benchmark.h>

#include <random>

#include "alloc_counter.h"
#include "bench_server.h"
#include "node_access.h"

namespace tw::bench {

namespace {

std::uint64_t heap_footprint(const HeapTally& tally) {
    return tally.live_bytes + MALLOC_BLOCK_HEADER * tally.live_blocks;
}

// A full table of logged-in peers, each as a server keeps it once its login is answered: the
// record in the table, and what its members hold on the heap.
void BM_PeerMemory(benchmark::State& state) {
    constexpr std::size_t PEERS = MAX_PEERS;
    for (auto _ : state) {
        const std::uint64_t before = heap_footprint(heap_tally());
        NetNode server{NodeRole::server};
        admit_peers(server, PEERS);
        const std::uint64_t after = heap_footprint(heap_tally());
        const auto table = static_cast<double>(server.peers().capacity() * sizeof(Peer));
        const auto total = static_cast<double>(after - before);
        state.counters["sizeof(Peer)"] = static_cast<double>(sizeof(Peer));
        state.counters["sizeof(NetMessage)"] = static_cast<double>(sizeof(NetMessage));
        state.counters["heap/peer"] = total / double{PEERS};
        state.counters["beside_record/peer"] = (total - table) / double{PEERS};
    }
}
BENCHMARK(BM_PeerMemory)->Iterations(1);

enum class IdPattern : std::int64_t { consecutive = 1, chatting_client = 3, scattered = 0 };

// One peer sends 100000 reliable messages; the figures are what the server's heap grows
// by over them and the fixed size of the window of remembered ids. A chatting client's own ids come
// every third number or so, since its acknowledgements and pings take ids from the same counter;
// scattered ids (any 32-bit value) are what a hostile or broken sender can make the server
// remember.
void BM_RememberedIdMemory(benchmark::State& state) {
    constexpr std::size_t MESSAGES = 100000;
    const auto pattern = static_cast<IdPattern>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        NetNode server{NodeRole::server};
        admit_peers(server, 1);
        const SocketAddress client = simulated_host(0);
        NetMessage chat = *NetMessage::decode(chat_record(0));
        std::mt19937 random(12345);
        std::vector<std::int32_t> ids;
        for (std::size_t i = 0; i < MESSAGES; ++i) {
            ids.push_back(pattern == IdPattern::scattered
                              ? static_cast<std::int32_t>(random())
                              : FIRST_MESSAGE_ID + static_cast<std::int32_t>(
                                                       i * static_cast<std::size_t>(pattern)));
        }
        Peer& peer = test::NodeAccess::peers(server)[0];
        peer.channel.outbox.reserve(MESSAGES);
        const std::uint64_t before = heap_footprint(heap_tally());
        state.ResumeTiming();
        for (const std::int32_t id : ids) {
            chat.id = id;
            server.dispatch(chat.encode(), client, SessionTime{0});
            server.clear_events();
            // A single peer gets no relays; only its acknowledgements pile up, in room
            // reserved above, so the heap grows by the remembered ids alone.
            test::NodeAccess::peers(server)[0].channel.outbox.clear();
        }
        state.PauseTiming();
        const std::uint64_t after = heap_footprint(heap_tally());
        state.counters["heap_growth"] = static_cast<double>(after - before);
        state.counters["id_window_bytes"] = static_cast<double>(sizeof(ReceivedIds));
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(MESSAGES) * state.iterations());
}
BENCHMARK(BM_RememberedIdMemory)
    ->ArgName("id_step")
    ->Arg(static_cast<std::int64_t>(IdPattern::consecutive))
    ->Arg(static_cast<std::int64_t>(IdPattern::chatting_client))
    ->Arg(static_cast<std::int64_t>(IdPattern::scattered))
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace tw::bench
