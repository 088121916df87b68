#include "lossy_link.h"

namespace tw::test {

namespace {

// More than any test ever has in flight; only there so that no loop can run away.
constexpr int MOST_TAKEN_PER_SOCKET = 100000;

}  // namespace

LossyLink::LossyLink(const SocketAddress& listen, const SocketAddress& server,
                     std::uint32_t first_route, std::uint64_t seed)
    : server_address(server), first_route_ip(first_route), random(seed) {
    listener.set_local_ip(listen.ip);
    listener.open_socket(false);
    listening = listener.bind_port(listen.port);
}

bool LossyLink::chance(double probability) {
    return std::uniform_real_distribution<double>(0.0, 1.0)(random) < probability;
}

std::unique_ptr<SocketEndpoint> LossyLink::open_route(std::size_t route) const {
    auto endpoint = std::make_unique<SocketEndpoint>();
    endpoint->set_local_ip(first_route_ip + static_cast<std::uint32_t>(route));
    endpoint->open_socket(false);
    // Any free port on the route's own address; a fresh socket means a fresh port.
    static_cast<void>(endpoint->bind_port(0));
    endpoint->set_destination(server_address);
    return endpoint;
}

std::size_t LossyLink::route_for(const SocketAddress& client) {
    for (std::size_t i = 0; i < clients.size(); ++i) {
        if (clients[i].client.ip == client.ip) {
            if (clients[i].client.port != client.port) {
                clients[i].client = client;
                clients[i].toward_server = open_route(i);
            }
            return i;
        }
    }
    clients.push_back(Route{client, open_route(clients.size())});
    return clients.size() - 1;
}

void LossyLink::take(std::size_t route, bool to_server, std::span<const std::uint8_t> datagram) {
    ++counted.taken;
    const LinkFaults& active = to_server ? upstream : downstream;
    if (chance(active.loss)) {
        ++counted.dropped;
        return;
    }
    const bool twice = chance(active.duplicate);
    if (twice) {
        ++counted.duplicated;
    }
    for (int copy = 0; copy < (twice ? 2 : 1); ++copy) {
        double delay = active.delay;
        if (chance(active.reorder)) {
            ++counted.held_back;
            delay += std::uniform_real_distribution<double>(0.0, active.reorder_window)(random);
        }
        queue.emplace(
            std::pair(clock + delay, arrivals++),
            Copy{route, to_server, std::vector<std::uint8_t>(datagram.begin(), datagram.end())});
    }
}

void LossyLink::pass_on(const Copy& copy) {
    ++counted.forwarded;
    if (copy.to_server) {
        clients[copy.route].toward_server->send_raw(copy.bytes);
        return;
    }
    listener.set_destination(clients[copy.route].client);
    listener.send_raw(copy.bytes);
}

void LossyLink::pump(double elapsed) {
    clock += elapsed;
    for (int taken = 0; taken < MOST_TAKEN_PER_SOCKET; ++taken) {
        const auto got = listener.receive_from(buffer);
        if (!got) {
            break;
        }
        const std::size_t route = route_for(got->source);
        take(route, true, std::span(buffer.data(), got->size));
    }
    for (std::size_t route = 0; route < clients.size(); ++route) {
        for (int taken = 0; taken < MOST_TAKEN_PER_SOCKET; ++taken) {
            const auto got = clients[route].toward_server->receive_from(buffer);
            if (!got) {
                break;
            }
            take(route, false, std::span(buffer.data(), got->size));
        }
    }
    while (!queue.empty() && queue.begin()->first.first <= clock) {
        pass_on(queue.begin()->second);
        queue.erase(queue.begin());
    }
}

}  // namespace tw::test
