#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "transport/socket_address.h"

namespace tw {

// Which local address each remote address reached the socket at, so that an answer
// leaves from the address the remote side sent to: a host with several addresses
// otherwise answers from the one its routing prefers, and a client whose socket is
// connected to another of them drops the answer. Fixed size whatever the senders: a
// remote address takes over the slot of any other it collides with, which is then
// answered from the system's choice until it is heard from again.
class ReplySources {
  public:
    static constexpr std::size_t SLOTS = 1024;

    void remember(const SocketAddress& remote, std::uint32_t local_ip) {
        entries[slot(remote)] = Entry{remote, local_ip};
    }
    // The local address to answer `remote` from; 0 when it is not known.
    std::uint32_t local_for(const SocketAddress& remote) const {
        const Entry& entry = entries[slot(remote)];
        return entry.remote == remote ? entry.local_ip : 0;
    }
    void clear() { entries.fill(Entry{}); }

  private:
    struct Entry {
        SocketAddress remote;
        std::uint32_t local_ip = 0;
    };

    static std::size_t slot(const SocketAddress& remote) {
        // Fibonacci hashing spreads neighbouring addresses and ports over the table.
        const std::uint64_t key = (std::uint64_t{remote.ip} << 16U) | remote.port;
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ULL) >> 54U) % SLOTS;
    }

    std::array<Entry, SLOTS> entries{};
};

}  // namespace tw
