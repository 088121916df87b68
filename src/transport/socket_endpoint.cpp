#include "transport/socket_endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tw {

namespace {

sockaddr_in to_sockaddr(const SocketAddress& address) {
    sockaddr_in native{};
    native.sin_family = AF_INET;
    native.sin_port = htons(address.port);
    native.sin_addr.s_addr = htonl(address.ip);
    return native;
}

SocketAddress from_sockaddr(const sockaddr_in& native) {
    return SocketAddress{ntohl(native.sin_addr.s_addr), ntohs(native.sin_port)};
}

}  // namespace

bool startup_socket_library() {
    // POSIX sockets need no library start-up; report the version the program asks for.
    constexpr int major = 2;
    constexpr int minor = 0;
    return major == 2 && minor == 0;
}

void cleanup_socket_library() {}

SocketEndpoint::~SocketEndpoint() {
    close_socket();
}

int SocketEndpoint::open_socket(bool stream) {
    // A node owns one socket at a time: the previous one would only leak.
    close_socket();
    socket_type = stream ? SOCKET_TYPE_STREAM : SOCKET_TYPE_DATAGRAM;
    // The fresh socket has no connection yet, and a destination chosen for the old one
    // (as a server) would send a client's login to the wrong host.
    use_destination = 0;
    socket_handle = ::socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    return socket_handle;
}

bool SocketEndpoint::bind_port(int port) {
    endpoint_address = SocketAddress{local_ip, static_cast<std::uint16_t>(port)};
    return bind_to(endpoint_address);
}

bool SocketEndpoint::bind_to(const SocketAddress& address) {
    if (socket_handle < 0) {
        return false;
    }
    const sockaddr_in native = to_sockaddr(address);
    return ::bind(socket_handle, reinterpret_cast<const sockaddr*>(&native), sizeof native) == 0;
}

bool SocketEndpoint::send_raw(std::span<const std::uint8_t> data) {
    if (socket_handle < 0) {
        return false;
    }
    ssize_t result = -1;
    if (socket_type == SOCKET_TYPE_STREAM) {
        result = ::send(socket_handle, data.data(), data.size(), MSG_NOSIGNAL);
    } else if (use_destination != 0) {
        const sockaddr_in native = to_sockaddr(destination);
        result = ::sendto(socket_handle, data.data(), data.size(), 0,
                          reinterpret_cast<const sockaddr*>(&native), sizeof native);
    } else {
        result = ::sendto(socket_handle, data.data(), data.size(), 0, nullptr, 0);
    }
    return result != -1;
}

int SocketEndpoint::close_socket() {
    if (socket_handle < 0) {
        return -1;
    }
    const int result = ::close(socket_handle);
    // Forget the number at once: the system may hand it to the next file opened.
    socket_handle = -1;
    return result;
}

std::optional<ReceivedDatagram> SocketEndpoint::receive_from(std::span<std::uint8_t> buffer) {
    if (socket_handle < 0) {
        return std::nullopt;
    }
    sockaddr_in source{};
    socklen_t source_size = sizeof source;
    const ssize_t size = ::recvfrom(socket_handle, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                    reinterpret_cast<sockaddr*>(&source), &source_size);
    if (size < 0) {
        return std::nullopt;
    }
    return ReceivedDatagram{static_cast<std::size_t>(size), from_sockaddr(source)};
}

bool SocketEndpoint::wait_readable(int timeout_ms) const {
    if (socket_handle < 0) {
        return false;
    }
    pollfd entry{socket_handle, POLLIN, 0};
    return ::poll(&entry, 1, timeout_ms) > 0 && (entry.revents & POLLIN) != 0;
}

std::optional<SocketAddress> SocketEndpoint::local_address() const {
    if (socket_handle < 0) {
        return std::nullopt;
    }
    sockaddr_in native{};
    socklen_t size = sizeof native;
    if (::getsockname(socket_handle, reinterpret_cast<sockaddr*>(&native), &size) != 0) {
        return std::nullopt;
    }
    return from_sockaddr(native);
}

}  // namespace tw
