#include "transport/socket_endpoint.h"

#include <algorithm>

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
    if (standby_handle != INVALID_SOCKET_HANDLE) {
        sys::close(standby_handle);
    }
}

SocketHandle SocketEndpoint::open_socket(bool stream) {
    adopt(sys::open(stream), stream);
    return socket_handle;
}

bool SocketEndpoint::open_standby(int port) {
    const SocketAddress address{local_ip, static_cast<std::uint16_t>(port)};
    const SocketHandle fresh = sys::open(false);
    last_bind_failure =
        fresh == INVALID_SOCKET_HANDLE ? BindFailure::other : sys::bind(fresh, address);
    if (last_bind_failure) {
        if (fresh != INVALID_SOCKET_HANDLE) {
            sys::close(fresh);
        }
        return false;
    }
    if (standby_handle != INVALID_SOCKET_HANDLE) {
        sys::close(standby_handle);
    }
    standby_handle = fresh;
    endpoint_address = address;
    return true;
}

void SocketEndpoint::switch_to_standby() {
    const SocketHandle standby = std::exchange(standby_handle, INVALID_SOCKET_HANDLE);
    adopt(standby, false);
}

void SocketEndpoint::adopt(SocketHandle handle, bool stream) {
    // A node owns one socket at a time: the previous one would only leak.
    close_socket();
    forget_connect();
    socket_type = stream ? SOCKET_TYPE_STREAM : SOCKET_TYPE_DATAGRAM;
    // The fresh socket has no connection yet, and a destination chosen for the old one
    // (as a server) would send a client's login to the wrong host.
    use_destination = 0;
    reply_sources.clear();
    if (!batches) {
        batches = std::make_unique<DatagramBatches>();
    }
    socket_handle = handle;
}

bool SocketEndpoint::bind_port(int port) {
    endpoint_address = SocketAddress{local_ip, static_cast<std::uint16_t>(port)};
    return bind_to(endpoint_address);
}

bool SocketEndpoint::bind_to(const SocketAddress& address) {
    last_bind_failure = is_open() ? sys::bind(socket_handle, address) : BindFailure::other;
    return !last_bind_failure;
}

std::optional<SocketAddress> SocketEndpoint::current_destination() const {
    return use_destination != 0 ? std::optional(destination) : std::nullopt;
}

bool SocketEndpoint::send_raw(std::span<const std::uint8_t> data) {
    flush_sends();
    const auto to = current_destination();
    return send_alone(data, to, to ? reply_sources.local_for(*to) : 0);
}

bool SocketEndpoint::send_alone(std::span<const std::uint8_t> data,
                                const std::optional<SocketAddress>& to,
                                std::uint32_t from_ip) const {
    if (!is_open()) {
        return false;
    }
    const bool stream = socket_type == SOCKET_TYPE_STREAM;
    return sys::send(socket_handle, stream, data, to ? &*to : nullptr, from_ip);
}

void SocketEndpoint::send_later(std::span<const std::uint8_t> data) {
    // A stream keeps no datagram boundaries to batch, and a record longer than a slot
    // is no session datagram; either goes at once, after what it follows.
    if (!batches || socket_type == SOCKET_TYPE_STREAM || data.size() > BATCH_SLOT_BYTES) {
        static_cast<void>(send_raw(data));
        return;
    }
    SendBatch& to_send = batches->to_send;
    OutgoingDatagram& kept = to_send.slots[to_send.count++];
    std::copy(data.begin(), data.end(), kept.bytes.begin());
    kept.size = data.size();
    kept.to = current_destination();
    kept.from_ip = kept.to ? reply_sources.local_for(*kept.to) : 0;
    if (to_send.full()) {
        flush_sends();
    }
}

std::size_t SocketEndpoint::flush_sends() {
    if (!batches || batches->to_send.count == 0) {
        return 0;
    }
    const auto kept = batches->to_send.kept();
    batches->to_send.count = 0;
    std::size_t sent = is_open() ? sys::send_batch(socket_handle, kept) : 0;
    // What the batch did not carry (an error, such as a local address that has gone, ends
    // a batch at that datagram) goes one by one, each with the single call's own second
    // try, so that every datagram fares as if it had been sent alone.
    std::size_t failed = 0;
    for (; sent < kept.size(); ++sent) {
        const OutgoingDatagram& datagram = kept[sent];
        failed += send_alone(datagram.data(), datagram.to, datagram.from_ip) ? 0U : 1U;
    }
    return failed;
}

int SocketEndpoint::close_socket() {
    flush_sends();
    // Whatever was taken from this socket and not handed on belongs to it alone.
    if (batches) {
        batches->received.clear();
    }
    if (!is_open()) {
        return -1;
    }
    const int result = sys::close(socket_handle);
    // Forget the handle at once: the system may hand its number to the next file opened.
    socket_handle = INVALID_SOCKET_HANDLE;
    return result;
}

std::optional<ReceivedDatagram> SocketEndpoint::receive_from(std::span<std::uint8_t> buffer) {
    if (!is_open() || !batches) {
        return std::nullopt;
    }
    ReceiveBatch& received = batches->received;
    if (received.empty()) {
        received.clear();
        received.filled = sys::receive_batch(socket_handle, received.slots);
        if (received.filled == 0) {
            return std::nullopt;
        }
    }
    const IncomingDatagram& datagram = received.slots[received.next++];
    ReceivedDatagram info = datagram.info;
    info.size = std::min(info.size, buffer.size());
    std::copy_n(datagram.bytes.begin(), info.size, buffer.begin());
    if (info.local_ip != 0) {
        reply_sources.remember(info.source, info.local_ip);
    }
    return info;
}

bool SocketEndpoint::wait_readable(int timeout_ms) const {
    return is_open() && (holds_received() || sys::wait_readable(socket_handle, timeout_ms));
}

std::optional<SocketAddress> SocketEndpoint::local_address() const {
    if (!is_open()) {
        return std::nullopt;
    }
    return sys::local_address(socket_handle);
}

}  // namespace tw
