#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "transport/socket_native.h"
#include "transport/socket_system.h"

namespace tw::sys {

namespace {

int fd(SocketHandle handle) {
    return static_cast<int>(handle);
}

}  // namespace

bool startup() {
    return true;
}

void cleanup() {}

SocketHandle open(bool stream) {
    const int handle = ::socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    if (handle >= 0 && !stream) {
        // A server's hundred clients acknowledge a burst of announcements in the same
        // moment; the default buffer holds a few hundred datagrams and drops the rest.
        // The system caps the size at its own maximum.
        const int bytes = 4 << 20;
        ::setsockopt(handle, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
    return handle;
}

int close(SocketHandle handle) {
    return ::close(fd(handle));
}

bool bind(SocketHandle handle, const SocketAddress& address) {
    const sockaddr_in native = to_native(address);
    return ::bind(fd(handle), reinterpret_cast<const sockaddr*>(&native), sizeof native) == 0;
}

bool connect(SocketHandle handle, const SocketAddress& address) {
    const sockaddr_in native = to_native(address);
    return ::connect(fd(handle), reinterpret_cast<const sockaddr*>(&native), sizeof native) != -1;
}

bool send(SocketHandle handle, bool stream, std::span<const std::uint8_t> data,
          const SocketAddress* to) {
    ssize_t result = -1;
    if (stream) {
        result = ::send(fd(handle), data.data(), data.size(), MSG_NOSIGNAL);
    } else if (to != nullptr) {
        const sockaddr_in native = to_native(*to);
        result = ::sendto(fd(handle), data.data(), data.size(), 0,
                          reinterpret_cast<const sockaddr*>(&native), sizeof native);
    } else {
        result = ::sendto(fd(handle), data.data(), data.size(), 0, nullptr, 0);
    }
    return result != -1;
}

std::optional<ReceivedDatagram> receive(SocketHandle handle, std::span<std::uint8_t> buffer) {
    sockaddr_in source{};
    socklen_t source_size = sizeof source;
    const ssize_t size = ::recvfrom(fd(handle), buffer.data(), buffer.size(), MSG_DONTWAIT,
                                    reinterpret_cast<sockaddr*>(&source), &source_size);
    if (size < 0) {
        return std::nullopt;
    }
    return ReceivedDatagram{static_cast<std::size_t>(size), from_native(source)};
}

bool wait_readable(SocketHandle handle, int timeout_ms) {
    pollfd entry{fd(handle), POLLIN, 0};
    return ::poll(&entry, 1, timeout_ms) > 0 && (entry.revents & POLLIN) != 0;
}

std::optional<SocketAddress> local_address(SocketHandle handle) {
    sockaddr_in native{};
    socklen_t size = sizeof native;
    if (::getsockname(fd(handle), reinterpret_cast<sockaddr*>(&native), &size) != 0) {
        return std::nullopt;
    }
    return from_native(native);
}

// A descriptor of its own: a thread that outlives its caller's wait can then never touch
// a descriptor number that the process has reused since.
SocketHandle thread_handle(SocketHandle handle) {
    return ::dup(fd(handle));
}

void release_thread_handle(SocketHandle handle) {
    ::close(fd(handle));
}

void lower_thread_priority() {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
}

}  // namespace tw::sys
