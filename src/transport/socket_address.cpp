#include "transport/socket_address.h"

namespace tw {

std::string address_text(std::uint32_t ip) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        text += std::to_string((ip >> static_cast<unsigned>(shift)) & 0xFFU);
        if (shift > 0) {
            text += '.';
        }
    }
    return text;
}

}  // namespace tw
