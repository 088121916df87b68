#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "transport/socket_address.h"

namespace tw {

// Datagrams one system call carries at most, either way. A server's frame moves some 2N
// datagrams per chat line among N clients, and one call each was most of its cost. The
// relay benchmark gains about as much with 16 a call as with 128; 64 keeps a batch near
// 18 KB each way.
inline constexpr std::size_t BATCH_DATAGRAMS = 64;
// Room for one datagram in a batch: the session's records are 88 bytes. A longer datagram
// to send goes out alone; a longer one received is cut here, and only its first 88 bytes
// are ever read.
inline constexpr std::size_t BATCH_SLOT_BYTES = 256;

struct ReceivedDatagram {
    std::size_t size = 0;
    SocketAddress source;
    // The local address the datagram was sent to; 0 when the system did not say.
    std::uint32_t local_ip = 0;
};

struct IncomingDatagram {
    std::array<std::uint8_t, BATCH_SLOT_BYTES> bytes{};
    ReceivedDatagram info;
};

struct OutgoingDatagram {
    std::array<std::uint8_t, BATCH_SLOT_BYTES> bytes{};
    std::size_t size = 0;
    // Nothing: the socket's connected default destination.
    std::optional<SocketAddress> to;
    // The local address to leave from; 0 for the system's choice.
    std::uint32_t from_ip = 0;

    std::span<const std::uint8_t> data() const { return std::span(bytes.data(), size); }
};

// Datagrams taken from the socket in one call, handed on one at a time.
struct ReceiveBatch {
    std::array<IncomingDatagram, BATCH_DATAGRAMS> slots{};
    std::size_t next = 0;
    std::size_t filled = 0;

    bool empty() const { return next == filled; }
    void clear() { next = filled = 0; }
};

// Datagrams kept for one send call, in the order they were handed in.
struct SendBatch {
    std::array<OutgoingDatagram, BATCH_DATAGRAMS> slots{};
    std::size_t count = 0;

    bool full() const { return count == slots.size(); }
    std::span<const OutgoingDatagram> kept() const { return std::span(slots.data(), count); }
};

struct DatagramBatches {
    ReceiveBatch received;
    SendBatch to_send;
};

}  // namespace tw
