#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "transport/socket_address.h"
#include "transport/socket_endpoint.h"

// The few socket calls whose spelling differs between POSIX and Winsock. One small file
// per platform implements them; the endpoint above is shared.
namespace tw::sys {

bool startup();
void cleanup();

SocketHandle open(bool stream);
int close(SocketHandle handle);
// Nothing on success, or why the address could not be had.
std::optional<BindFailure> bind(SocketHandle handle, const SocketAddress& address);
bool connect(SocketHandle handle, const SocketAddress& address);
// Sends on a stream, to the connected default (`to` null) or to `to`, from the local
// address `from_ip` when it is not 0; false on error.
bool send(SocketHandle handle, bool stream, std::span<const std::uint8_t> data,
          const SocketAddress* to, std::uint32_t from_ip);
// Sends datagrams from the first on, in order, as many as one call takes; how many were
// sent. The rest, from the first one that failed, is the caller's to send one by one; a
// system without a batched call sends none here.
std::size_t send_batch(SocketHandle handle, std::span<const OutgoingDatagram> batch);
// Fills slots from the first with waiting datagrams, each with the local address it was
// sent to, without blocking; how many. A system without a batched call takes one.
std::size_t receive_batch(SocketHandle handle, std::span<IncomingDatagram> slots);
bool wait_readable(SocketHandle handle, int timeout_ms);
std::optional<SocketAddress> local_address(SocketHandle handle);
std::optional<std::uint32_t> resolve_ipv4(const char* host);

// A handle of the same socket that a connect thread may keep after its caller gave up
// waiting, and gives back with release_thread_handle.
SocketHandle thread_handle(SocketHandle handle);
void release_thread_handle(SocketHandle handle);
// The connect thread must never hold up the frame loop's thread for the processor.
void lower_thread_priority();

}  // namespace tw::sys
