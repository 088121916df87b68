#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "net/peer.h"

namespace tw {

// Far above what a LAN's chat needs; a login beyond it is not answered.
inline constexpr std::size_t MAX_PEERS = 256;

// The peer table: peers in order of admission, each found by its address and port through
// an index kept in step, and by its handle (handles grow in the order of admission). Who
// gets a place is admission's to decide (admission.h).
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

    // Removes the peer's first queued message with this id; true when one was there.
    bool acknowledged(std::size_t position, std::int32_t id, SessionTime now);

  private:
    // An address and port as one number, in the order the index keeps.
    struct IndexEntry {
        std::uint64_t key = 0;
        std::size_t position = 0;
    };
    static std::uint64_t key_of(const SocketAddress& address);
    void index(std::size_t position);

    std::vector<Peer> peers;
    // Sorted by key: a datagram's sender is found in a few steps, whatever the table holds.
    std::vector<IndexEntry> by_address;
    PeerHandle next_handle = 1;
};

}  // namespace tw
