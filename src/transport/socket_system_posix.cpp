#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

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
        // Each datagram then says which local address it was sent to (see receive_batch),
        // until a bind to one address makes that plain (see bind).
        const int on = 1;
        ::setsockopt(handle, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        // A server's frame may come late; bursts from many clients wait here meanwhile
        // instead of being dropped. The system caps the size at its own maximum.
        const int bytes = RECEIVE_BUFFER_BYTES;
        ::setsockopt(handle, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
    return handle;
}

int close(SocketHandle handle) {
    return ::close(fd(handle));
}

std::optional<BindFailure> bind(SocketHandle handle, const SocketAddress& address) {
    const sockaddr_in native = to_native(address);
    if (::bind(fd(handle), reinterpret_cast<const sockaddr*>(&native), sizeof native) == 0) {
        if (address.ip != 0) {
            // Bound to one address, the socket is reached at it alone and answers from it:
            // a control message on every datagram each way would say nothing.
            const int off = 0;
            ::setsockopt(fd(handle), IPPROTO_IP, IP_PKTINFO, &off, sizeof off);
        }
        return std::nullopt;
    }
    switch (errno) {
        case EADDRINUSE:
            return BindFailure::in_use;
        case EACCES:
        case EPERM:
            return BindFailure::not_permitted;
        case EADDRNOTAVAIL:
            return BindFailure::no_such_address;
        default:
            return BindFailure::other;
    }
}

bool connect(SocketHandle handle, const SocketAddress& address) {
    const sockaddr_in native = to_native(address);
    return ::connect(fd(handle), reinterpret_cast<const sockaddr*>(&native), sizeof native) != -1;
}

namespace {

// Room for the one control message that carries a datagram's local address.
struct Control {
    alignas(cmsghdr) std::array<std::uint8_t, CMSG_SPACE(sizeof(in_pktinfo))> bytes{};
};

msghdr message_of(sockaddr_in& address, iovec& part, Control& control) {
    msghdr message{};
    message.msg_name = &address;
    message.msg_namelen = sizeof address;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control.bytes.data();
    message.msg_controllen = control.bytes.size();
    return message;
}

// Makes the datagram of `message` leave from the local address `from_ip`.
void leave_from(msghdr& message, std::uint32_t from_ip) {
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst.s_addr = htonl(from_ip);
    std::memcpy(CMSG_DATA(header), &info, sizeof info);
}

// A datagram to `to` that leaves from the local address `from_ip`.
bool send_from(SocketHandle handle, std::span<const std::uint8_t> data, const SocketAddress& to,
               std::uint32_t from_ip) {
    sockaddr_in native = to_native(to);
    iovec part{const_cast<std::uint8_t*>(data.data()), data.size()};
    Control control{};
    msghdr message = message_of(native, part, control);
    leave_from(message, from_ip);
    return ::sendmsg(fd(handle), &message, 0) != -1;
}

// The local address that answers to this datagram's sender should leave from.
std::uint32_t reply_source(msghdr& message) {
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(header), sizeof info);
            // The kernel's choice for a reply: the destination address itself, or for a
            // broadcast the receiving interface's own address.
            return ntohl(info.ipi_spec_dst.s_addr);
        }
    }
    return 0;
}

// The system-call records of one batch, filled for one call.
struct BatchHeaders {
    std::array<mmsghdr, BATCH_DATAGRAMS> headers;
    std::array<sockaddr_in, BATCH_DATAGRAMS> addresses;
    std::array<iovec, BATCH_DATAGRAMS> parts;
    std::array<Control, BATCH_DATAGRAMS> controls;
};

// The system-call record of one datagram of a batch; it refers to the other three.
msghdr outgoing_message(const OutgoingDatagram& datagram, sockaddr_in& address, iovec& part,
                        Control& control) {
    part = iovec{const_cast<std::uint8_t*>(datagram.bytes.data()), datagram.size};
    address = to_native(datagram.to.value_or(SocketAddress{}));
    msghdr message = message_of(address, part, control);
    if (!datagram.to) {
        message.msg_name = nullptr;
        message.msg_namelen = 0;
    }
    if (datagram.to && datagram.from_ip != 0) {
        leave_from(message, datagram.from_ip);
    } else {
        message.msg_control = nullptr;
        message.msg_controllen = 0;
    }
    return message;
}

}  // namespace

bool send(SocketHandle handle, bool stream, std::span<const std::uint8_t> data,
          const SocketAddress* to, std::uint32_t from_ip) {
    // An address that was local when the datagram came may have gone since: the
    // system's own choice is then better than no answer.
    if (!stream && to != nullptr && from_ip != 0 && send_from(handle, data, *to, from_ip)) {
        return true;
    }
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

std::size_t send_batch(SocketHandle handle, std::span<const OutgoingDatagram> batch) {
    const std::size_t count = std::min(batch.size(), BATCH_DATAGRAMS);
    BatchHeaders call;
    for (std::size_t i = 0; i < count; ++i) {
        call.headers[i].msg_hdr =
            outgoing_message(batch[i], call.addresses[i], call.parts[i], call.controls[i]);
        call.headers[i].msg_len = 0;
    }
    const int sent = ::sendmmsg(fd(handle), call.headers.data(), static_cast<unsigned>(count), 0);
    return sent < 0 ? 0 : static_cast<std::size_t>(sent);
}

std::size_t receive_batch(SocketHandle handle, std::span<IncomingDatagram> slots) {
    const std::size_t count = std::min(slots.size(), BATCH_DATAGRAMS);
    BatchHeaders call;
    for (std::size_t i = 0; i < count; ++i) {
        call.parts[i] = iovec{slots[i].bytes.data(), slots[i].bytes.size()};
        call.headers[i].msg_hdr = message_of(call.addresses[i], call.parts[i], call.controls[i]);
        call.headers[i].msg_len = 0;
    }
    const int got = ::recvmmsg(fd(handle), call.headers.data(), static_cast<unsigned>(count),
                               MSG_DONTWAIT, nullptr);
    for (std::size_t i = 0; got > 0 && i < static_cast<std::size_t>(got); ++i) {
        slots[i].info = ReceivedDatagram{call.headers[i].msg_len, from_native(call.addresses[i]),
                                         reply_source(call.headers[i].msg_hdr)};
    }
    return got < 0 ? 0 : static_cast<std::size_t>(got);
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
