#include "transport/socket_address.h"

namespace tw {

AddressText::AddressText(std::uint32_t ip) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto octet = (ip >> static_cast<unsigned>(shift)) & 0xFFU;
        // Decimal without leading zeros, as std::to_string writes it.
        if (octet >= 100) {
            chars[size++] = static_cast<char>('0' + octet / 100);
        }
        if (octet >= 10) {
            chars[size++] = static_cast<char>('0' + octet / 10 % 10);
        }
        chars[size++] = static_cast<char>('0' + octet % 10);
        if (shift > 0) {
            chars[size++] = '.';
        }
    }
}

std::string address_text(std::uint32_t ip) {
    return std::string(AddressText(ip).view());
}

}  // namespace tw
