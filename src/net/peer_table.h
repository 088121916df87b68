#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "net/peer.h"

namespace tw {

// Far above what a LAN's chat needs; a login beyond it is not answered.
inline constexpr std::size_t MAX_PEERS = 256;
// Logins waiting for the ack of their answer, each sent its answer every 2 s until it
// confirms or 30 s have passed. Once these places are taken, a login is answered without
// a session (login_cookies.h), so a host forging logins from any number of addresses
// fills these places and no more, and a real login still gets in by its ack; half the
// table stays for clients that did confirm.
inline constexpr std::size_t MAX_WAITING_PEERS = MAX_PEERS / 2;
// Sessions of one address, waiting or confirmed: a few users on one computer or behind
// one NAT, but no single host can fill the table.
inline constexpr std::size_t MAX_SESSIONS_PER_HOST = 8;

// Why a peer was not admitted.
enum class Refusal {
    host_full,     // its host has all the sessions it may have
    table_full,    // confirmed peers fill the table
    waiting_full,  // every waiting place is taken
};

// The peer table: peers in order of admission, each found by its address and port, and
// the rules of who gets a place.
class PeerTable {
  public:
    std::size_t size() const { return peers.size(); }
    bool empty() const { return peers.empty(); }
    std::size_t capacity() const { return peers.capacity(); }
    Peer& operator[](std::size_t position) { return peers[position]; }
    const Peer& operator[](std::size_t position) const { return peers[position]; }
    Peer& front() { return peers.front(); }
    const Peer& front() const { return peers.front(); }
    Peer& back() { return peers.back(); }
    const Peer& back() const { return peers.back(); }
    auto begin() { return peers.begin(); }
    auto end() { return peers.end(); }
    auto begin() const { return peers.begin(); }
    auto end() const { return peers.end(); }

    std::optional<std::size_t> find(const SocketAddress& address) const;
    std::optional<std::size_t> position_of(PeerHandle handle) const;
    // Whether a new session of `address` for `name` may be had, and if not, why. A user
    // whose host is at its bound still gets in when the session would replace one of
    // that user's own (same host and name).
    std::optional<Refusal> refusal(const SocketAddress& address, PeerState state,
                                   std::string_view name) const;
    // A new peer at the end of the table in `state`, its ids counting from `first_id`,
    // heard and pinged at `now`.
    std::size_t admit(const SocketAddress& address, PeerState state, std::int32_t first_id,
                      SessionTime now);
    // The confirmed session this newly confirmed one takes over: the same user (host and
    // name) on another port, as a restarted client is. Nobody else's session is ever taken.
    std::optional<std::size_t> earlier_session(std::size_t confirmed) const;

    void add(const Peer& peer);
    void remove(std::size_t position);
    void clear();

  private:
    std::size_t waiting_count() const;

    std::vector<Peer> peers;
    PeerHandle next_handle = 1;
};

}  // namespace tw
