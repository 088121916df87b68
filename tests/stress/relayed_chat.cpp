#include "relayed_chat.h"

#include <algorithm>

namespace tw::test {

namespace {

constexpr int GRACE_FRAMES = 50;

constexpr std::uint32_t in_block(std::uint8_t block, std::uint8_t group, std::uint8_t host) {
    return ipv4(127, block, group, host);
}

bool nothing_awaits_ack(const NetNode& node) {
    return std::all_of(node.peers().begin(), node.peers().end(), [](const Peer& peer) {
        return peer.channel.reliable_queue.empty() && peer.channel.outbox.empty();
    });
}

}  // namespace

RelayedChat::RelayedChat(std::uint8_t block, const std::vector<std::string>& client_names,
                         std::uint64_t seed)
    : server(in_block(block, 0, 1), 0), names(client_names), relay_ip(in_block(block, 0, 2)) {
    server.type("nick boss");
    server.type("serve");
    const auto served = server.objects.net_node.endpoint().local_address();
    link.emplace(SocketAddress{relay_ip, 0}, served.value_or(SocketAddress{}),
                 in_block(block, 2, 1), seed);
    // Clients reach "the server's port", which for them is the relay's.
    const int port = link->address().port;
    for (std::size_t i = 0; i < names.size(); ++i) {
        clients.push_back(std::make_unique<Participant>(
            in_block(block, 1, static_cast<std::uint8_t>(i + 1)), port));
    }
}

bool RelayedChat::ready() const {
    const auto served = server.objects.net_node.endpoint().local_address();
    return link->is_open() && served && served->port != 0;
}

std::vector<Participant*> RelayedChat::everyone() {
    std::vector<Participant*> all{&server};
    for (const auto& client : clients) {
        all.push_back(client.get());
    }
    return all;
}

void RelayedChat::frame() {
    for (Participant* participant : everyone()) {
        participant->step(FRAME_SECONDS);
    }
    link->pump(FRAME_SECONDS);
    clock += FRAME_SECONDS;
    if (tally) {
        tally->observe(clock);
    }
}

bool RelayedChat::log_in() {
    for (std::size_t i = 0; i < clients.size(); ++i) {
        clients[i]->type("nick " + names[i]);
    }
    if (!connect_all()) {
        return false;
    }
    std::vector<ChatTally::Member> members{{&server, "boss"}};
    for (std::size_t i = 0; i < clients.size(); ++i) {
        members.push_back({clients[i].get(), names[i]});
    }
    tally.emplace(std::move(members));
    return true;
}

bool RelayedChat::connect_all() {
    std::vector<std::size_t> accepted_before;
    std::vector<std::size_t> logins_before;
    for (std::size_t i = 0; i < clients.size(); ++i) {
        accepted_before.push_back(clients[i]->count("Login Accepted by boss"));
        logins_before.push_back(server.count(names[i] + " Logged In"));
        clients[i]->type("connect " + address_text(relay_ip));
    }
    const auto logged_in = [&] {
        for (std::size_t i = 0; i < clients.size(); ++i) {
            if (clients[i]->count("Login Accepted by boss") <= accepted_before[i] ||
                server.count(names[i] + " Logged In") <= logins_before[i]) {
                return false;
            }
        }
        return quiet();
    };
    for (int round = 0; round < 1000 && !logged_in(); ++round) {
        frame();
    }
    return logged_in();
}

void RelayedChat::run_for(double seconds) {
    const double until = clock + seconds;
    while (clock < until) {
        frame();
    }
}

void RelayedChat::chat(int lines, int frames_between, const std::string& word) {
    const std::vector<Participant*> all = everyone();
    for (int line = 0; line < lines; ++line) {
        for (std::size_t member = 0; member < all.size(); ++member) {
            const std::string name = member == 0 ? std::string("boss") : names[member - 1];
            tally->type(member, name + " " + word + " " + std::to_string(line), clock);
        }
        for (int i = 0; i < frames_between; ++i) {
            frame();
        }
    }
}

bool RelayedChat::quiet() const {
    return link->held() == 0 &&
           std::all_of(
               clients.begin(), clients.end(),
               [](const auto& client) { return nothing_awaits_ack(client->objects.net_node); }) &&
           nothing_awaits_ack(server.objects.net_node);
}

bool RelayedChat::settle(double seconds) {
    const double until = clock + seconds;
    const auto done = [&] { return tally->all_delivered() && quiet(); };
    while (!done() && clock < until) {
        frame();
    }
    const bool settled = done();
    // A copy sent after its original was acknowledged may still be on its way; give it
    // time to arrive, so that a line shown twice would be seen.
    for (int i = 0; i < GRACE_FRAMES; ++i) {
        frame();
    }
    return settled;
}

std::uint64_t RelayedChat::datagrams_sent() const {
    std::uint64_t sent = server.objects.net_node.counters().sent;
    for (const auto& client : clients) {
        sent += client->objects.net_node.counters().sent;
    }
    return sent;
}

}  // namespace tw::test
