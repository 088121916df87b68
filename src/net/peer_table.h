#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "net/peer.h"

namespace tw {

// Far above what a LAN's chat needs; a login beyond it is not answered.
inline constexpr std::size_t MAX_PEERS = 256;
// Logins waiting for the ack of their answer. Each is sent its answer every 2 s and gives
// its place to a newer login once all of these are taken, so a host forging logins from
// any number of addresses delays a real client's login by at most a place in this line,
// never locks it out, and half the table stays for clients that did confirm.
inline constexpr std::size_t MAX_WAITING_PEERS = MAX_PEERS / 2;

// Where the admission put a new peer, and whether an older waiting login gave up its
// place for it.
struct Admission {
    std::size_t position = 0;
    bool displaced_waiting = false;
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
    // A new peer at the end of the table in `state`, its ids counting from `first_id`.
    // A waiting login that finds every waiting place (or the whole table) taken displaces
    // the oldest waiting one; nothing is admitted when confirmed peers fill the table.
    std::optional<Admission> admit(const SocketAddress& address, PeerState state,
                                   std::int32_t first_id);
    // The confirmed session this newly confirmed one takes over: the same user (host and
    // name) on another port, as a restarted client is. Nobody else's session is ever taken.
    std::optional<std::size_t> earlier_session(std::size_t confirmed) const;

    void add(const Peer& peer);
    void remove(std::size_t position);
    void clear();

  private:
    std::optional<std::size_t> oldest_waiting() const;
    std::size_t waiting_count() const;

    std::vector<Peer> peers;
};

}  // namespace tw
