// Relay throughput over real loopback sockets, against the floor that the system calls
// set. One server takes chat lines from N clients, each on its own 127.x address, and
// relays every line to the N - 1 others; the clients acknowledge every relay, as their
// nodes would. The same run measures two raw loops that receive the same datagrams and
// make the same sends with no session layer at all, burst for burst in turn with the
// session, so that all see the same machine and the same load: a naive one with one
// system call per datagram, and one with the batched calls the session's endpoint uses.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

#include "bench_server.h"
#include "transport/datagram_batch.h"
#include "transport/socket_native.h"

namespace tw::bench {

namespace {

// Datagrams that one burst may leave waiting in a socket at once. The system's default
// receive buffer (about 416 KiB once the kernel has doubled the 208 KiB allowed) holds
// some 300 small datagrams on loopback; staying under that keeps every datagram, so the
// figures hold on a machine with default limits too.
constexpr std::size_t WAITING_DATAGRAMS = 256;
constexpr std::size_t MOST_LINES_PER_BURST = 64;

// Lines per burst: as many as the server can hold the acknowledgements of at once, since
// each line brings one from every other client.
std::size_t lines_per_burst(std::size_t clients) {
    return std::clamp<std::size_t>(WAITING_DATAGRAMS / (clients - 1), 1, MOST_LINES_PER_BURST);
}

// Socket buffers asked for; the system caps them at its own limit.
constexpr int SOCKET_BUFFER_BYTES = 1 << 20;

void widen_buffers(int handle) {
    for (const int option : {SO_RCVBUF, SO_SNDBUF}) {
        static_cast<void>(::setsockopt(handle, SOL_SOCKET, option, &SOCKET_BUFFER_BYTES,
                                       sizeof SOCKET_BUFFER_BYTES));
    }
}

// A plain datagram socket on its own loopback address and an ephemeral port: the
// clients, and the raw server.
class UdpSocket {
  public:
    explicit UdpSocket(std::uint32_t ip) : handle(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const sockaddr_in local = to_native(SocketAddress{ip, 0});
        if (handle < 0 ||
            ::bind(handle, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            return;
        }
        sockaddr_in bound{};
        socklen_t size = sizeof bound;
        if (::getsockname(handle, reinterpret_cast<sockaddr*>(&bound), &size) == 0) {
            address = from_native(bound);
        }
        widen_buffers(handle);
    }
    ~UdpSocket() {
        if (handle >= 0) {
            ::close(handle);
        }
    }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool ready() const { return handle >= 0 && address.port != 0; }

    bool send_to(std::span<const std::uint8_t> datagram, const sockaddr_in& to) const {
        return ::sendto(handle, datagram.data(), datagram.size(), 0,
                        reinterpret_cast<const sockaddr*>(&to),
                        sizeof to) == static_cast<ssize_t>(datagram.size());
    }

    // One waiting datagram, without blocking; its size, or nothing when none waits.
    std::optional<std::size_t> take(std::span<std::uint8_t> buffer, sockaddr_in& from) const {
        socklen_t size = sizeof from;
        const ssize_t got = ::recvfrom(handle, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr*>(&from), &size);
        if (got < 0) {
            return std::nullopt;
        }
        return static_cast<std::size_t>(got);
    }

    int descriptor() const { return handle; }

    SocketAddress address;

  private:
    int handle;
};

// One client: sends chat lines and acknowledges every reliable datagram that reaches it,
// to wherever it came from, with ids from its own counter as a node would.
class Client {
  public:
    explicit Client(std::uint32_t ip) : socket(ip) {}

    void send_line(const sockaddr_in& server) {
        chat.id = next_id++;
        static_cast<void>(socket.send_to(chat.encode(), server));
    }

    // Answers everything waiting; returns the number of relays among it.
    std::size_t answer() {
        std::size_t relays = 0;
        sockaddr_in from{};
        while (const auto size = socket.take(buffer, from)) {
            const auto message = NetMessage::decode(std::span(buffer.data(), *size));
            if (!message || message->reliable == 0) {
                continue;
            }
            relays += message->kind == KIND_CHAT_RELAY ? 1U : 0U;
            NetMessage ack;
            ack.id = next_id++;
            ack.kind = KIND_ACK;
            ack.length = 1;
            put_i32(ack.text, message->id);
            static_cast<void>(socket.send_to(ack.encode(), from));
        }
        return relays;
    }

    UdpSocket socket;

  private:
    NetMessage chat = *NetMessage::decode(chat_record(0));
    std::int32_t next_id = FIRST_MESSAGE_ID;
    std::array<std::uint8_t, RECEIVE_BUFFER_SIZE> buffer{};
};

// The floor: per line one receive, one acknowledgement to the sender and one relay to
// each other client, the datagrams prepared once; per acknowledgement one receive.
class RawRelay {
  public:
    explicit RawRelay(std::uint32_t ip) : socket(ip) {
        NetMessage ack;
        ack.kind = KIND_ACK;
        ack.length = 1;
        ack_record = ack.encode();
        NetMessage relay;
        relay.reliable = 1;
        relay.kind = KIND_CHAT_RELAY;
        write_text_at(relay.text, 0, RELAY_NAME_MAX, "user0");
        write_text_at(relay.text, RELAY_LINE_OFFSET, RELAY_LINE_MAX, CHAT_LINE);
        relay_record = relay.encode();
    }

    void add_client(const SocketAddress& address) { clients.push_back(to_native(address)); }

    std::size_t drain() {
        std::size_t taken = 0;
        sockaddr_in from{};
        while (const auto size = socket.take(buffer, from)) {
            ++taken;
            const auto message = NetMessage::decode(std::span(buffer.data(), *size));
            if (!message || message->kind != KIND_CHAT) {
                continue;
            }
            for (const sockaddr_in& client : clients) {
                const bool author = client.sin_addr.s_addr == from.sin_addr.s_addr;
                static_cast<void>(socket.send_to(author ? ack_record : relay_record, client));
            }
        }
        return taken;
    }

    std::vector<sockaddr_in>& clients_of() { return clients; }
    const WireRecord& ack() const { return ack_record; }
    const WireRecord& relay() const { return relay_record; }

    UdpSocket socket;

  private:
    std::vector<sockaddr_in> clients;
    WireRecord ack_record{};
    WireRecord relay_record{};
    std::array<std::uint8_t, RECEIVE_BUFFER_SIZE> buffer{};
};

// The floor with the batched calls: the same datagrams as RawRelay, taken with recvmmsg
// and sent with sendmmsg, each call carrying as many as the endpoint's batch does.
class BatchedRawRelay {
  public:
    explicit BatchedRawRelay(std::uint32_t ip) : plain(ip) {}

    void add_client(const SocketAddress& address) { plain.add_client(address); }
    const UdpSocket& socket() const { return plain.socket; }

    void drain() {
        for (;;) {
            for (std::size_t i = 0; i < BATCH_DATAGRAMS; ++i) {
                in_parts[i] = iovec{in_bytes[i].data(), in_bytes[i].size()};
                in_headers[i].msg_hdr = message_of(sources[i], in_parts[i]);
            }
            const int got = ::recvmmsg(plain.socket.descriptor(), in_headers.data(),
                                       BATCH_DATAGRAMS, MSG_DONTWAIT, nullptr);
            if (got <= 0) {
                break;
            }
            for (std::size_t i = 0; i < static_cast<std::size_t>(got); ++i) {
                answer(std::span(in_bytes[i].data(), in_headers[i].msg_len), sources[i]);
            }
        }
        send_kept();
    }

  private:
    static msghdr message_of(sockaddr_in& address, iovec& part) {
        msghdr message{};
        message.msg_name = &address;
        message.msg_namelen = sizeof address;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        return message;
    }

    void answer(std::span<const std::uint8_t> datagram, const sockaddr_in& from) {
        const auto message = NetMessage::decode(datagram);
        if (!message || message->kind != KIND_CHAT) {
            return;
        }
        for (sockaddr_in& client : plain.clients_of()) {
            const bool author = client.sin_addr.s_addr == from.sin_addr.s_addr;
            keep(author ? plain.ack() : plain.relay(), client);
        }
    }

    void keep(const WireRecord& record, sockaddr_in& to) {
        out_parts[kept] = iovec{const_cast<std::uint8_t*>(record.data()), record.size()};
        out_headers[kept].msg_hdr = message_of(to, out_parts[kept]);
        if (++kept == BATCH_DATAGRAMS) {
            send_kept();
        }
    }

    void send_kept() {
        std::size_t sent = 0;
        while (sent < kept) {
            const int count = ::sendmmsg(plain.socket.descriptor(), out_headers.data() + sent,
                                         static_cast<unsigned>(kept - sent), 0);
            if (count <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(count);
        }
        kept = 0;
    }

    RawRelay plain;
    std::array<std::array<std::uint8_t, BATCH_SLOT_BYTES>, BATCH_DATAGRAMS> in_bytes{};
    std::array<sockaddr_in, BATCH_DATAGRAMS> sources{};
    std::array<iovec, BATCH_DATAGRAMS> in_parts{};
    std::array<mmsghdr, BATCH_DATAGRAMS> in_headers{};
    std::array<iovec, BATCH_DATAGRAMS> out_parts{};
    std::array<mmsghdr, BATCH_DATAGRAMS> out_headers{};
    std::size_t kept = 0;
};

// The server's own processor time, in seconds. The machine is shared (builds, other
// benchmarks), and a wall clock would charge whichever loop was running to every moment
// the server lost its core; the loopback work of a send or receive is done in the
// calling thread, so its processor time holds the whole cost of a frame.
double thread_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct BurstResult {
    double server_seconds = 0.0;
    std::size_t relays_seen = 0;
};

// One burst through either server, in three server frames: the clients send their
// lines, taking turns; the first frame takes and acknowledges them, the second sends
// the relays (the session queues them reliably, and a reliable message leaves with the
// pass after the one that copies it); then every client acknowledges what reached it,
// and the third frame takes those acknowledgements. Only the server's frames are timed,
// in processor time of the server's thread: lines per second are lines per second of
// a core that the server has to itself.
template <typename Frame>
BurstResult run_burst(std::deque<Client>& clients, std::size_t& next_sender, std::size_t lines,
                      const sockaddr_in& server, Frame frame) {
    BurstResult result;
    for (std::size_t line = 0; line < lines; ++line) {
        clients[next_sender].send_line(server);
        next_sender = (next_sender + 1) % clients.size();
    }
    const double start = thread_seconds();
    frame();
    frame();
    result.server_seconds += thread_seconds() - start;
    for (Client& client : clients) {
        result.relays_seen += client.answer();
    }
    const double acknowledged = thread_seconds();
    frame();
    result.server_seconds += thread_seconds() - acknowledged;
    return result;
}

bool queues_empty(const NetNode& node) {
    for (const Peer& peer : node.peers()) {
        if (!peer.channel.reliable_queue.empty() || !peer.channel.outbox.empty()) {
            return false;
        }
    }
    return true;
}

void BM_RelayLoopback(benchmark::State& state) {
    const auto client_count = static_cast<std::size_t>(state.range(0));
    NetNode server{NodeRole::server};
    server.change_name("server");
    RawRelay raw(ipv4(127, 77, 0, 2));
    BatchedRawRelay batched(ipv4(127, 77, 0, 3));
    const auto bound = server.bind(ipv4(127, 77, 0, 1), 0);
    if (!bound || !raw.socket.ready() || !batched.socket().ready()) {
        state.SkipWithError("could not bind the servers on loopback");
        return;
    }
    // A POSIX descriptor, whatever wider type the endpoint keeps it in for other systems.
    widen_buffers(static_cast<int>(server.endpoint().handle()));
    const sockaddr_in session_address = to_native(*bound);
    const sockaddr_in raw_address = to_native(raw.socket.address);
    const sockaddr_in batched_address = to_native(batched.socket().address);

    // A deque: clients own their sockets and never move.
    std::deque<Client> clients;
    for (std::size_t i = 0; i < client_count; ++i) {
        const auto octet = static_cast<std::uint8_t>(i + 1);
        clients.emplace_back(ipv4(127, 77, 1, octet));
        if (!clients.back().socket.ready()) {
            state.SkipWithError("could not bind a client on loopback");
            return;
        }
        raw.add_client(clients.back().socket.address);
        batched.add_client(clients.back().socket.address);
    }

    // The session server's frame as the program runs it: take every waiting datagram,
    // then one maintenance pass. No time passes, so nothing is resent or pinged and the
    // session puts on the wire exactly what the raw loop does.
    const auto session_frame = [&server] {
        while (server.receive(SessionTime{0})) {
        }
        server.maintain(SessionTime{0});
        // As the application does every frame: the list keeps its room.
        server.clear_events();
    };
    const auto raw_frame = [&raw] { raw.drain(); };
    const auto batched_frame = [&batched] { batched.drain(); };

    // Log in every client and let the answers and their acknowledgements settle, one
    // client at a time, so that the server never holds more than one client's answers.
    for (std::size_t i = 0; i < client_count; ++i) {
        NetMessage login;
        login.reliable = 1;
        login.kind = KIND_LOGIN;
        set_text(login, "user" + std::to_string(i));
        static_cast<void>(clients[i].socket.send_to(login.encode(), session_address));
        session_frame();
        session_frame();
        // Acknowledged at once: a table full of logins still waiting would give the
        // oldest of them up.
        clients[i].answer();
        session_frame();
    }
    for (int round = 0; round < 3; ++round) {
        for (Client& client : clients) {
            client.answer();
            session_frame();
            session_frame();
        }
    }
    if (server.peers().size() != client_count || !queues_empty(server)) {
        state.SkipWithError("the clients did not log in cleanly");
        return;
    }

    double session_seconds = 0.0;
    double raw_seconds = 0.0;
    double batched_seconds = 0.0;
    std::size_t lines = 0;
    std::size_t relays_missing = 0;
    std::array<std::size_t, 3> senders{};
    std::size_t first = 0;
    const std::size_t burst = lines_per_burst(client_count);
    const std::size_t relays_per_burst = burst * (client_count - 1);
    for (auto _ : state) {
        std::array<BurstResult, 3> results;
        // Take turns at going first, so that none always finds the caches warm.
        for (std::size_t turn = 0; turn < 3; ++turn) {
            const std::size_t which = (first + turn) % 3;
            std::size_t& sender = senders[which];
            results[which] =
                which == 0   ? run_burst(clients, sender, burst, session_address, session_frame)
                : which == 1 ? run_burst(clients, sender, burst, raw_address, raw_frame)
                             : run_burst(clients, sender, burst, batched_address, batched_frame);
            relays_missing += relays_per_burst - results[which].relays_seen;
        }
        first = (first + 1) % 3;
        state.SetIterationTime(results[0].server_seconds);
        session_seconds += results[0].server_seconds;
        raw_seconds += results[1].server_seconds;
        batched_seconds += results[2].server_seconds;
        lines += burst;
    }
    if (relays_missing != 0 || !queues_empty(server)) {
        state.SkipWithError("datagrams were lost on loopback; the figures would flatter");
        return;
    }
    const auto total_lines = static_cast<double>(lines);
    state.counters["lines/s"] = total_lines / session_seconds;
    state.counters["raw_lines/s"] = total_lines / raw_seconds;
    state.counters["batched_lines/s"] = total_lines / batched_seconds;
    state.counters["relays/s"] =
        total_lines * static_cast<double>(client_count - 1) / session_seconds;
    state.counters["session/raw"] = raw_seconds / session_seconds;
    state.counters["session/batched"] = batched_seconds / session_seconds;
    state.counters["lines/burst"] = static_cast<double>(burst);
}
BENCHMARK(BM_RelayLoopback)
    ->ArgName("clients")
    ->Arg(2)
    ->Arg(10)
    ->Arg(100)
    ->Arg(256)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(1.0);

}  // namespace

}  // namespace tw::bench
