#include "net/peer_table.h"

#include <algorithm>

namespace tw {

std::optional<std::size_t> PeerTable::find(const SocketAddress& address) const {
    for (std::size_t i = 0; i < peers.size(); ++i) {
        if (peers[i].address == address) {
            return i;
        }
    }
    return std::nullopt;
}

std::size_t PeerTable::admit(const SocketAddress& address, PeerState state, std::int32_t first_id,
                             SessionTime now) {
    Peer& peer = peers.emplace_back();
    peer.handle = next_handle++;
    peer.address_text = address_text(address.ip);
    peer.address = address;
    if (state == PeerState::waiting) {
        peer.pending.emplace();
    }
    peer.channel.next_id = first_id;
    peer.heard_at = now;
    peer.pinged_at = now;
    return peers.size() - 1;
}

std::optional<std::size_t> PeerTable::earlier_session(std::size_t confirmed) const {
    const Peer& newer = peers[confirmed];
    for (std::size_t i = 0; i < peers.size(); ++i) {
        const Peer& older = peers[i];
        if (i != confirmed && !older.waiting() && older.address.ip == newer.address.ip &&
            older.name == newer.name) {
            return i;
        }
    }
    return std::nullopt;
}

void PeerTable::add(const Peer& peer) {
    peers.push_back(peer);
    peers.back().handle = next_handle++;
}

std::optional<std::size_t> PeerTable::position_of(PeerHandle handle) const {
    const auto found = std::find_if(peers.begin(), peers.end(),
                                    [handle](const Peer& peer) { return peer.handle == handle; });
    if (found == peers.end()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(found - peers.begin());
}

void PeerTable::remove(std::size_t position) {
    if (position < peers.size()) {
        peers.erase(peers.begin() + static_cast<std::ptrdiff_t>(position));
    }
    // A crowd that has left gives its room back; a table that merely breathes keeps it.
    if (peers.capacity() > MAX_PEERS / 4 && peers.size() < peers.capacity() / 4) {
        peers.shrink_to_fit();
    }
}

void PeerTable::clear() {
    peers.clear();
    peers.shrink_to_fit();
}

}  // namespace tw
