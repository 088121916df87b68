#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "net/net_message.h"
#include "net/peer.h"
#include "transport/socket_endpoint.h"

namespace tw {

inline constexpr float TIMEOUT_SECONDS = 10.0F;
inline constexpr float PING_INTERVAL = 5.0F;
inline constexpr std::size_t RECEIVE_BUFFER_SIZE = 8000;
// Far above what a LAN's chat needs; a login beyond it is not answered.
inline constexpr std::size_t MAX_PEERS = 256;
// Logins waiting for the ack of their answer. Each such peer is sent its answer every 2 s
// and is dropped after 10 s of silence, so a host forging logins from any number of
// addresses gets at most this many answers per resend interval, and half the table stays
// for clients that did confirm. A whole classroom connecting in the same second fits.
inline constexpr std::size_t MAX_UNCONFIRMED_PEERS = MAX_PEERS / 2;

// What receive hands to the application: the message and the position of its sender in
// the peer table (nothing when the sender has just left it, as after a logout).
struct Delivery {
    NetMessage message;
    std::optional<std::size_t> peer;
};

// What one receive call did: whether it took a datagram from the socket at all, and
// what that datagram delivers. A datagram taken but not delivered (a duplicate, junk)
// is no reason to stop reading; an empty socket is.
struct Reception {
    bool taken = false;
    std::optional<Delivery> delivery;
};

// Counted instead of logged, so that tests and benchmarks can see what was dropped.
struct NetCounters {
    std::uint64_t received = 0;
    std::uint64_t dropped_short = 0;
    std::uint64_t dropped_unknown = 0;
    std::uint64_t duplicates = 0;
    std::uint64_t sent = 0;
    // Logins not admitted because the table or its unconfirmed places were full.
    std::uint64_t refused_logins = 0;
    // Datagrams other than acks, logins and logouts from a login not yet confirmed.
    std::uint64_t dropped_unconfirmed = 0;
    // Logins that never acknowledged their answer and were let go without a word.
    std::uint64_t abandoned_logins = 0;
};

// Where a datagram goes: a peer's address, or nothing for the socket's connected default.
using Transmitter =
    std::function<bool(std::span<const std::uint8_t> datagram, std::optional<SocketAddress> to)>;

// The process's one network node: its socket, its peers and the notices it leaves for
// the user. Receiving and the maintenance pass never block and never read a clock, so
// the whole session can be driven by a test with chosen datagrams and chosen times.
class NetNode {
  public:
    SocketEndpoint endpoint;
    bool is_server = false;
    float clock = 0.0F;
    std::string name;
    std::vector<Peer> peers;
    std::vector<std::string> notices;
    NetCounters counters;

    // Peer table.
    void add_peer(const Peer& peer);
    void remove_peer(std::size_t position);
    void clear_peers();
    std::optional<std::size_t> find_peer(std::string_view address_text) const;

    // Takes at most one datagram from the socket and dispatches it.
    Reception receive();
    // The session work for one datagram from `source`, without any socket.
    std::optional<Delivery> dispatch(std::span<const std::uint8_t> datagram,
                                     const SocketAddress& source);

    // Sending.
    void maintain(float elapsed);
    void broadcast_chat(std::string_view text, bool reliable);
    void change_name(std::string_view new_name);
    void broadcast_logout();
    void announce_timeout(std::size_t timed_out);
    void send_ping(Peer& peer);
    void send_login(std::string_view login_name);
    void flush_outbox(Peer& peer);

    // Seconds until the next maintenance pass has something to do (a resend copy, a ping,
    // a time-out); 0 when an outbox is waiting, nothing when no peer needs a pass at all.
    std::optional<float> seconds_until_due() const;

    // Replaces the socket as the way out; tests and the fuzzer capture datagrams with it.
    void set_transmitter(Transmitter replacement) { transmitter = std::move(replacement); }

  private:
    bool transmit(const WireRecord& record);
    std::optional<std::size_t> admit_sender(const NetMessage& message, const SocketAddress& source);
    bool may_admit_login() const;
    void confirm_login(std::size_t sender, NetMessage& message);
    bool acknowledge(Peer& peer, const NetMessage& message);
    void handle_kind(std::size_t sender, NetMessage& message,
                     std::optional<std::size_t>& delivered_peer);
    void handle_logout(std::size_t sender, NetMessage& message,
                       std::optional<std::size_t>& delivered_peer);
    void handle_name_change(std::size_t sender, const NetMessage& message);
    void handle_login(std::size_t sender, NetMessage& message);
    void relay_chat(std::size_t sender, const NetMessage& message);
    // True when the pass must end because the whole session is gone (a client's server).
    bool time_out(std::size_t position);

    template <typename Fill>
    void queue_to_each(bool reliable, std::optional<std::size_t> except, Fill fill);

    Transmitter transmitter;
    std::array<std::uint8_t, RECEIVE_BUFFER_SIZE> receive_buffer{};
};

// Queues one message to every announced peer in table order, each with that peer's own
// next id.
template <typename Fill>
inline void NetNode::queue_to_each(bool reliable, std::optional<std::size_t> except, Fill fill) {
    for (std::size_t i = 0; i < peers.size(); ++i) {
        if ((except && *except == i) || !peers[i].announced) {
            continue;
        }
        fill(peers[i].channel.queue_message(reliable));
    }
}

// Starts networking for the program: the socket library and one unbound datagram socket.
void net_startup(NetNode& node);
// The farewell: logout to every peer, one last pass that sends it, socket closed.
void net_shutdown(NetNode& node);

}  // namespace tw
