#include <algorithm>
#include <memory>

#include "transport/socket_native.h"
#include "transport/socket_system.h"

namespace tw::sys {

// getaddrinfo is spelled alike on every platform; asking for IPv4 only keeps the first
// answer usable as the node's 4-byte address.
std::optional<std::uint32_t> resolve_ipv4(const char* host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (host == nullptr || ::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
    sockaddr_in first{};
    std::copy_n(reinterpret_cast<const std::uint8_t*>(found->ai_addr), sizeof first,
                reinterpret_cast<std::uint8_t*>(&first));
    return ntohl(first.sin_addr.s_addr);
}

}  // namespace tw::sys
