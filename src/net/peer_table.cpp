#include "net/peer_table.h"

#include <algorithm>

namespace tw {

std::uint64_t PeerTable::key_of(const SocketAddress& address) {
    return (static_cast<std::uint64_t>(address.ip) << 16U) | address.port;
}

namespace {

constexpr auto key_below = [](const auto& entry, std::uint64_t key) { return entry.key < key; };

}  // namespace

std::optional<std::size_t> PeerTable::find(const SocketAddress& address) const {
    const std::uint64_t key = key_of(address);
    const auto found = std::lower_bound(by_address.begin(), by_address.end(), key, key_below);
    if (found == by_address.end() || found->key != key) {
        return std::nullopt;
    }
    return found->position;
}

void PeerTable::index(std::size_t position) {
    const std::uint64_t key = key_of(peers[position].address);
    const auto place = std::lower_bound(by_address.begin(), by_address.end(), key, key_below);
    // Addresses are unique in a server's table, but a table filled by hand need not be:
    // the first admitted stays the one found, as a walk in order would find it.
    if (place != by_address.end() && place->key == key) {
        return;
    }
    by_address.insert(place, IndexEntry{key, position});
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
    index(peers.size() - 1);
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
    index(peers.size() - 1);
}

std::optional<std::size_t> PeerTable::position_of(PeerHandle handle) const {
    const auto found =
        std::lower_bound(peers.begin(), peers.end(), handle,
                         [](const Peer& peer, PeerHandle wanted) { return peer.handle < wanted; });
    if (found == peers.end() || found->handle != handle) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(found - peers.begin());
}

bool PeerTable::acknowledged(std::size_t position, std::int32_t id, SessionTime now) {
    return peers[position].acknowledged(id, now);
}

void PeerTable::remove(std::size_t position) {
    if (position < peers.size()) {
        const SocketAddress address = peers[position].address;
        peers.erase(peers.begin() + static_cast<std::ptrdiff_t>(position));
        std::erase_if(by_address,
                      [position](const IndexEntry& entry) { return entry.position == position; });
        for (IndexEntry& entry : by_address) {
            entry.position -= entry.position > position ? 1 : 0;
        }
        // Another peer of the same address, in a table filled by hand, is found from now on.
        for (std::size_t i = 0; i < peers.size(); ++i) {
            if (peers[i].address == address) {
                index(i);
                break;
            }
        }
    }
    // A crowd that has left gives its room back; a table that merely breathes keeps it.
    if (peers.capacity() > MAX_PEERS / 4 && peers.size() < peers.capacity() / 4) {
        peers.shrink_to_fit();
    }
}

void PeerTable::clear() {
    peers.clear();
    peers.shrink_to_fit();
    by_address.clear();
    by_address.shrink_to_fit();
}

}  // namespace tw
