#pragma once

// The platform's IPv4 socket address and its conversion from and to ours; shared by the
// platform files, which differ in everything else.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#endif

#include "transport/socket_address.h"

namespace tw {

// Receive buffer asked for on every datagram socket: a limit, not an allocation. A
// server's 100 clients typing at once answer its relays with about 10 000 acks in one
// frame, some 8 MB of kernel buffers for 88-byte datagrams.
inline constexpr int RECEIVE_BUFFER_BYTES = 4 << 20;

inline sockaddr_in to_native(const SocketAddress& address) {
    sockaddr_in native{};
    native.sin_family = AF_INET;
    native.sin_port = htons(address.port);
    native.sin_addr.s_addr = htonl(address.ip);
    return native;
}

inline SocketAddress from_native(const sockaddr_in& native) {
    return SocketAddress{ntohl(native.sin_addr.s_addr), ntohs(native.sin_port)};
}

}  // namespace tw
