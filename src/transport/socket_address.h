#pragma once

#include <cstdint>
#include <string>

namespace tw {

// An IPv4 socket address in host byte order; the endpoint converts at the socket boundary.
struct SocketAddress {
    std::uint32_t ip = 0;
    std::uint16_t port = 0;

    bool operator==(const SocketAddress&) const = default;
};

// Dotted-decimal text of the address alone, as peers are identified by it.
std::string address_text(std::uint32_t ip);

// Builds an address from four octets, e.g. ipv4(127, 0, 0, 2).
constexpr std::uint32_t ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return (std::uint32_t{a} << 24U) | (std::uint32_t{b} << 16U) | (std::uint32_t{c} << 8U) |
           std::uint32_t{d};
}

}  // namespace tw
