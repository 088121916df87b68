#include "transport/socket_endpoint.h"

#include "transport/socket_system.h"

namespace tw {

bool startup_socket_library() {
    return sys::startup();
}

void cleanup_socket_library() {
    sys::cleanup();
}

SocketEndpoint::~SocketEndpoint() {
    close_socket();
}

SocketHandle SocketEndpoint::open_socket(bool stream) {
    // A node owns one socket at a time: the previous one would only leak.
    close_socket();
    forget_connect();
    socket_type = stream ? SOCKET_TYPE_STREAM : SOCKET_TYPE_DATAGRAM;
    // The fresh socket has no connection yet, and a destination chosen for the old one
    // (as a server) would send a client's login to the wrong host.
    use_destination = 0;
    reply_sources.clear();
    socket_handle = sys::open(stream);
    return socket_handle;
}

bool SocketEndpoint::bind_port(int port) {
    endpoint_address = SocketAddress{local_ip, static_cast<std::uint16_t>(port)};
    return bind_to(endpoint_address);
}

bool SocketEndpoint::bind_to(const SocketAddress& address) {
    last_bind_failure = is_open() ? sys::bind(socket_handle, address) : BindFailure::other;
    return !last_bind_failure;
}

bool SocketEndpoint::send_raw(std::span<const std::uint8_t> data) {
    if (!is_open()) {
        return false;
    }
    const bool stream = socket_type == SOCKET_TYPE_STREAM;
    if (use_destination == 0) {
        return sys::send(socket_handle, stream, data, nullptr, 0);
    }
    return sys::send(socket_handle, stream, data, &destination,
                     reply_sources.local_for(destination));
}

int SocketEndpoint::close_socket() {
    if (!is_open()) {
        return -1;
    }
    const int result = sys::close(socket_handle);
    // Forget the handle at once: the system may hand its number to the next file opened.
    socket_handle = INVALID_SOCKET_HANDLE;
    return result;
}

std::optional<ReceivedDatagram> SocketEndpoint::receive_from(std::span<std::uint8_t> buffer) {
    if (!is_open()) {
        return std::nullopt;
    }
    auto datagram = sys::receive(socket_handle, buffer);
    if (datagram && datagram->local_ip != 0) {
        reply_sources.remember(datagram->source, datagram->local_ip);
    }
    return datagram;
}

bool SocketEndpoint::wait_readable(int timeout_ms) const {
    return is_open() && sys::wait_readable(socket_handle, timeout_ms);
}

std::optional<SocketAddress> SocketEndpoint::local_address() const {
    if (!is_open()) {
        return std::nullopt;
    }
    return sys::local_address(socket_handle);
}

}  // namespace tw
