#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "net/net_message.h"
#include "net/net_node.h"
#include "transport/socket_endpoint.h"

namespace tw::test {

// What the link does to each datagram, the same in both directions.
struct LinkFaults {
    double loss = 0.0;       // chance that a datagram is dropped
    double duplicate = 0.0;  // chance that a datagram is passed on twice
    double reorder = 0.0;    // chance that a copy is held back, so that later ones overtake it
    double reorder_window = 0.05;  // longest hold-back, in simulated seconds
    double delay = 0.0;            // every datagram's time on the way, in simulated seconds
};

struct LinkCounters {
    std::uint64_t taken = 0;       // datagrams that reached the relay
    std::uint64_t dropped = 0;     // of those, not passed on at all
    std::uint64_t duplicated = 0;  // of those, passed on twice
    std::uint64_t held_back = 0;   // copies delayed by a hold-back
    std::uint64_t forwarded = 0;   // copies passed on
};

// A lossy UDP relay on loopback between one server and its clients. Clients connect to
// the relay's address instead of the server's. For each client host the relay keeps a
// socket of its own on a distinct 127.x address and talks to the server from it, so the
// server still sees every client on its own address; replies come back through that
// socket and leave from the relay's address, the one the client's socket is connected
// to. A client host that shows up from a new port (it reconnected) gets a fresh socket
// on the same address, so the server sees what it would see without the relay: the same
// host from a new port.
//
// Every socket of the relay takes a port of the system's choosing, so that any number of
// relays can run at once, in one process or in several.
//
// Time is simulated: pump(elapsed) advances the relay's clock in the same steps as the
// participants' frames, so a delay is a number of frames and a seeded run of a test does
// the same thing every time (as long as loopback hands each datagram over at once).
class LossyLink {
  public:
    // `listen` is where clients connect (port 0: any free port, see address()); route k
    // talks to `server` from `first_route_ip` + k, on a port of the system's choosing.
    LossyLink(const SocketAddress& listen, const SocketAddress& server,
              std::uint32_t first_route_ip, std::uint64_t seed);

    // False when the listening address could not be bound.
    bool is_open() const { return listening; }
    // Where clients are to send, once bound.
    SocketAddress address() const { return listener.local_address().value_or(SocketAddress{}); }
    void set_faults(const LinkFaults& both_ways) { set_faults(both_ways, both_ways); }
    void set_faults(const LinkFaults& to_server, const LinkFaults& to_clients) {
        upstream = to_server;
        downstream = to_clients;
    }

    // Advances the clock by `elapsed` seconds, takes every datagram waiting on the
    // relay's sockets, and passes on every held copy whose time has come.
    void pump(double elapsed);

    const LinkCounters& counters() const { return counted; }
    std::size_t routes() const { return clients.size(); }
    std::size_t held() const { return queue.size(); }
    double now() const { return clock; }

  private:
    struct Route {
        SocketAddress client;
        std::unique_ptr<SocketEndpoint> toward_server;
    };
    struct Copy {
        std::size_t route = 0;
        bool to_server = false;
        std::vector<std::uint8_t> bytes;
    };

    void take(std::size_t route, bool to_server, std::span<const std::uint8_t> datagram);
    std::size_t route_for(const SocketAddress& client);
    std::unique_ptr<SocketEndpoint> open_route(std::size_t route) const;
    void pass_on(const Copy& copy);
    bool chance(double probability);

    SocketEndpoint listener;
    bool listening = false;
    SocketAddress server_address;
    std::uint32_t first_route_ip;
    std::vector<Route> clients;
    // Held copies by release time, then by arrival, so equal times keep their order.
    std::map<std::pair<double, std::uint64_t>, Copy> queue;
    std::uint64_t arrivals = 0;
    LinkFaults upstream;
    LinkFaults downstream;
    LinkCounters counted;
    double clock = 0.0;
    std::mt19937_64 random;
    std::array<std::uint8_t, RECEIVE_BUFFER_SIZE> buffer{};
};

}  // namespace tw::test
