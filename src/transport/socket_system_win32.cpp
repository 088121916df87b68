#include <windows.h>
#include <winsock2.h>

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
    return handle == INVALID_SOCKET ? INVALID_SOCKET_HANDLE : static_cast<SocketHandle>(handle);
}

int close(SocketHandle handle) {
    return ::closesocket(native(handle));
}

bool bind(SocketHandle handle, const SocketAddress& address) {
    const sockaddr_in address_in = to_native(address);
    return ::bind(native(handle), reinterpret_cast<const sockaddr*>(&address_in),
                  sizeof address_in) == 0;
}

bool connect(SocketHandle handle, const SocketAddress& address) {
    const sockaddr_in address_in = to_native(address);
    return ::connect(native(handle), reinterpret_cast<const sockaddr*>(&address_in),
                     sizeof address_in) != SOCKET_ERROR;
}

bool send(SocketHandle handle, bool stream, std::span<const std::uint8_t> data,
          const SocketAddress* to) {
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

std::optional<ReceivedDatagram> receive(SocketHandle handle, std::span<std::uint8_t> buffer) {
    // Winsock has no per-call non-blocking flag: look first, so the receive never waits.
    if (!wait_readable(handle, 0)) {
        return std::nullopt;
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

// Winsock handles cannot be duplicated cheaply; the thread uses the node's own handle.
SocketHandle thread_handle(SocketHandle handle) {
    return handle;
}

void release_thread_handle(SocketHandle) {}

void lower_thread_priority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
}

}  // namespace tw::sys
