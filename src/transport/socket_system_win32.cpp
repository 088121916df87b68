#include <mswsock.h>
#include <windows.h>
#include <winsock2.h>

#include <array>
#include <cstring>

#include "transport/socket_native.h"
#include "transport/socket_system.h"

namespace tw::sys {

namespace {

SOCKET native(SocketHandle handle) {
    return static_cast<SOCKET>(handle);
}

int size_of(std::span<const std::uint8_t> data) {
    return static_cast<int>(data.size());
}

WSABUF buffer_of(char* bytes, std::size_t size) {
    return WSABUF{static_cast<ULONG>(size), bytes};
}

// Room for the one control message that carries a datagram's local address.
struct Control {
    alignas(WSACMSGHDR) std::array<char, WSA_CMSG_SPACE(sizeof(IN_PKTINFO))> bytes{};
};

WSAMSG message_of(sockaddr_in& address, WSABUF& part, Control& control) {
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&address);
    message.namelen = sizeof address;
    message.lpBuffers = &part;
    message.dwBufferCount = 1;
    message.Control = buffer_of(control.bytes.data(), control.bytes.size());
    return message;
}

// A datagram to `to` that leaves from the local address `from_ip`.
bool send_from(SocketHandle handle, std::span<const std::uint8_t> data, const SocketAddress& to,
               std::uint32_t from_ip) {
    sockaddr_in address_in = to_native(to);
    WSABUF part =
        buffer_of(const_cast<char*>(reinterpret_cast<const char*>(data.data())), data.size());
    Control control{};
    WSAMSG message = message_of(address_in, part, control);
    WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = WSA_CMSG_LEN(sizeof(IN_PKTINFO));
    IN_PKTINFO info{};
    info.ipi_addr.s_addr = htonl(from_ip);
    std::memcpy(WSA_CMSG_DATA(header), &info, sizeof info);
    DWORD sent = 0;
    return WSASendMsg(native(handle), &message, 0, &sent, nullptr, nullptr) == 0;
}

// WSARecvMsg is reached through the socket provider; nullptr where it has none.
LPFN_WSARECVMSG message_receiver(SocketHandle handle) {
    static LPFN_WSARECVMSG receiver = nullptr;
    if (receiver == nullptr) {
        GUID id = WSAID_WSARECVMSG;
        DWORD size = 0;
        WSAIoctl(native(handle), SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &receiver,
                 sizeof receiver, &size, nullptr, nullptr);
    }
    return receiver;
}

// The local address the datagram was sent to, unless that cannot be a source address.
std::uint32_t reply_source(WSAMSG& message) {
    for (WSACMSGHDR* header = WSA_CMSG_FIRSTHDR(&message); header != nullptr;
         header = WSA_CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            IN_PKTINFO info{};
            std::memcpy(&info, WSA_CMSG_DATA(header), sizeof info);
            const std::uint32_t ip = ntohl(info.ipi_addr.s_addr);
            const bool multicast = (ip >> 28U) == 14U;
            return (multicast || ip == 0xFFFFFFFFU) ? 0 : ip;
        }
    }
    return 0;
}

std::optional<ReceivedDatagram> receive_with_destination(LPFN_WSARECVMSG receive_message,
                                                         SocketHandle handle,
                                                         std::span<std::uint8_t> buffer) {
    sockaddr_in source{};
    WSABUF part = buffer_of(reinterpret_cast<char*>(buffer.data()), buffer.size());
    Control control{};
    WSAMSG message = message_of(source, part, control);
    DWORD size = 0;
    if (receive_message(native(handle), &message, &size, nullptr, nullptr) != 0) {
        return std::nullopt;
    }
    return ReceivedDatagram{static_cast<std::size_t>(size), from_native(source),
                            reply_source(message)};
}

}  // namespace

// Winsock asked for version 2.0 must report exactly 2.0; anything else is given back.
bool startup() {
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 0), &data) != 0) {
        return false;
    }
    if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 0) {
        WSACleanup();
        return false;
    }
    return true;
}

void cleanup() {
    WSACleanup();
}

SocketHandle open(bool stream) {
    const SOCKET handle = ::socket(AF_INET, stream ? SOCK_STREAM : SOCK_DGRAM, 0);
    if (handle == INVALID_SOCKET) {
        return INVALID_SOCKET_HANDLE;
    }
    if (!stream) {
        // Each datagram then says which local address it was sent to (see receive).
        const DWORD on = 1;
        ::setsockopt(handle, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof on);
        // Bursts from many clients wait here for a late frame instead of being dropped.
        const int bytes = RECEIVE_BUFFER_BYTES;
        ::setsockopt(handle, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                     sizeof bytes);
    }
    return static_cast<SocketHandle>(handle);
}

int close(SocketHandle handle) {
    return ::closesocket(native(handle));
}

std::optional<BindFailure> bind(SocketHandle handle, const SocketAddress& address) {
    const sockaddr_in address_in = to_native(address);
    if (::bind(native(handle), reinterpret_cast<const sockaddr*>(&address_in), sizeof address_in) ==
        0) {
        return std::nullopt;
    }
    switch (WSAGetLastError()) {
        case WSAEADDRINUSE:
            return BindFailure::in_use;
        case WSAEACCES:
            return BindFailure::not_permitted;
        case WSAEADDRNOTAVAIL:
            return BindFailure::no_such_address;
        default:
            return BindFailure::other;
    }
}

bool connect(SocketHandle handle, const SocketAddress& address) {
    const sockaddr_in address_in = to_native(address);
    return ::connect(native(handle), reinterpret_cast<const sockaddr*>(&address_in),
                     sizeof address_in) != SOCKET_ERROR;
}

bool send(SocketHandle handle, bool stream, std::span<const std::uint8_t> data,
          const SocketAddress* to, std::uint32_t from_ip) {
    // An address that was local when the datagram came may have gone since: the
    // system's own choice is then better than no answer.
    if (!stream && to != nullptr && from_ip != 0 && send_from(handle, data, *to, from_ip)) {
        return true;
    }
    const auto* bytes = reinterpret_cast<const char*>(data.data());
    int result = SOCKET_ERROR;
    if (stream) {
        result = ::send(native(handle), bytes, size_of(data), 0);
    } else if (to != nullptr) {
        const sockaddr_in address_in = to_native(*to);
        result = ::sendto(native(handle), bytes, size_of(data), 0,
                          reinterpret_cast<const sockaddr*>(&address_in), sizeof address_in);
    } else {
        result = ::sendto(native(handle), bytes, size_of(data), 0, nullptr, 0);
    }
    return result != SOCKET_ERROR;
}

namespace {

std::optional<ReceivedDatagram> receive_one(SocketHandle handle, std::span<std::uint8_t> buffer) {
    // Winsock has no per-call non-blocking flag: look first, so the receive never waits.
    if (!wait_readable(handle, 0)) {
        return std::nullopt;
    }
    if (const LPFN_WSARECVMSG receive_message = message_receiver(handle)) {
        return receive_with_destination(receive_message, handle, buffer);
    }
    sockaddr_in source{};
    int source_size = sizeof source;
    const int size = ::recvfrom(native(handle), reinterpret_cast<char*>(buffer.data()),
                                static_cast<int>(buffer.size()), 0,
                                reinterpret_cast<sockaddr*>(&source), &source_size);
    if (size == SOCKET_ERROR) {
        return std::nullopt;
    }
    return ReceivedDatagram{static_cast<std::size_t>(size), from_native(source)};
}

}  // namespace

// Winsock's batched calls need overlapped sockets; one call per datagram keeps the frame
// loop as it is, and the endpoint sends each datagram of a batch by itself.
std::size_t send_batch(SocketHandle /*handle*/, std::span<const OutgoingDatagram> /*batch*/) {
    return 0;
}

std::size_t receive_batch(SocketHandle handle, std::span<IncomingDatagram> slots) {
    if (slots.empty()) {
        return 0;
    }
    const auto datagram = receive_one(handle, slots[0].bytes);
    if (!datagram) {
        return 0;
    }
    slots[0].info = *datagram;
    return 1;
}

bool wait_readable(SocketHandle handle, int timeout_ms) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(native(handle), &readable);
    timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, &timeout) > 0;
}

std::optional<SocketAddress> local_address(SocketHandle handle) {
    sockaddr_in address_in{};
    int size = sizeof address_in;
    if (::getsockname(native(handle), reinterpret_cast<sockaddr*>(&address_in), &size) != 0) {
        return std::nullopt;
    }
    return from_native(address_in);
}

// A handle of its own for the connect thread: a thread that outlives its caller's wait
// must never touch a handle value that a later "connect" has been given again.
SocketHandle thread_handle(SocketHandle handle) {
    WSAPROTOCOL_INFOA info{};
    if (WSADuplicateSocketA(native(handle), GetCurrentProcessId(), &info) != 0) {
        return INVALID_SOCKET_HANDLE;
    }
    const SOCKET copy =
        WSASocketA(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0, 0);
    return copy == INVALID_SOCKET ? INVALID_SOCKET_HANDLE : static_cast<SocketHandle>(copy);
}

void release_thread_handle(SocketHandle handle) {
    ::closesocket(native(handle));
}

void lower_thread_priority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
}

}  // namespace tw::sys
