#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tw {

// An IPv4 socket address in host byte order; the endpoint converts at the socket boundary.
struct SocketAddress {
    std::uint32_t ip = 0;
    std::uint16_t port = 0;

    bool operator==(const SocketAddress&) const = default;
};

// Dotted-decimal text of the address alone, as peers are shown and relays tell them apart.
std::string address_text(std::uint32_t ip);

// The same text in a buffer of its own, built without allocating.
class AddressText {
  public:
    explicit AddressText(std::uint32_t ip);
    std::string_view view() const { return std::string_view(chars.data(), size); }

  private:
    std::array<char, 16> chars{};  // "255.255.255.255" and room to spare
    std::size_t size = 0;
};

// Builds an address from four octets, e.g. ipv4(127, 0, 0, 2).
constexpr std::uint32_t ipv4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return (std::uint32_t{a} << 24U) | (std::uint32_t{b} << 16U) | (std::uint32_t{c} << 8U) |
           std::uint32_t{d};
}

}  // namespace tw
