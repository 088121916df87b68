#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "transport/datagram_batch.h"
#include "transport/reply_sources.h"
#include "transport/socket_address.h"

namespace tw {

// A socket as the platform names it: a descriptor on POSIX, a SOCKET on Windows.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle INVALID_SOCKET_HANDLE = -1;

inline constexpr int SOCKET_TYPE_STREAM = 1;
inline constexpr int SOCKET_TYPE_DATAGRAM = 2;

// Why a socket could not be bound to an address.
enum class BindFailure { in_use, not_permitted, no_such_address, other };

// How the latest connect started by an endpoint stands.
enum class ConnectProgress { none, pending, connected, failed };

// What a connect thread reports through; defined where the thread runs.
struct ConnectAttempt;

// The node's one socket. A thin layer over the platform's BSD sockets: it owns the
// descriptor and the two addresses that decide where a send goes.
class SocketEndpoint {
  public:
    SocketEndpoint() = default;
    ~SocketEndpoint();
    SocketEndpoint(const SocketEndpoint&) = delete;
    SocketEndpoint& operator=(const SocketEndpoint&) = delete;

    // Replaces the node's socket with a fresh one; the old one is closed, and a connect
    // still under way for it is forgotten.
    SocketHandle open_socket(bool stream);
    bool bind_port(int port);
    // A fresh datagram socket bound to `port`, kept beside the current one until
    // switch_to_standby puts it in its place; when the bind fails nothing changes at all,
    // and bind_failure() says why.
    bool open_standby(int port);
    // Closes the current socket (after what it still keeps to send) and takes the one
    // open_standby made.
    void switch_to_standby();
    // Why the last bind_port failed; nothing after one that succeeded.
    std::optional<BindFailure> bind_failure() const { return last_bind_failure; }

    // Starts looking the host up and connecting the socket to it, on a thread of its own,
    // and returns at once; false when no attempt could be started. A name server may take
    // as long as it likes: the caller looks at connect_progress() when it suits it and
    // gives up with forget_connect().
    bool start_connect(const char* host, int port);
    // Pending until the thread has reported; then connected or failed, once the outcome is
    // taken (a connected socket sends to the host from then on).
    ConnectProgress connect_progress();
    // Gives the attempt up; its thread ends on its own and reports to no one.
    void forget_connect();
    // start_connect and a wait of at most `timeout_ms` for its outcome, for callers that
    // have nothing else to do meanwhile.
    bool connect_with_timeout(const char* host, int port, int timeout_ms);
    // Sends at once, after whatever send_later still keeps.
    bool send_raw(std::span<const std::uint8_t> data);
    // Keeps a datagram, with the destination send_raw would choose now, for flush_sends;
    // a full batch is sent at once.
    void send_later(std::span<const std::uint8_t> data);
    // Sends what send_later kept, in order, in as few calls as the system allows; a
    // datagram the batch could not take is sent by itself, as send_raw would. How many
    // failed.
    std::size_t flush_sends();
    // Sends what is kept, then closes.
    int close_socket();

    // Hands on one waiting datagram without blocking, copied into `buffer` (cut to its
    // size); nothing when none is waiting or the receive failed. Where the system can,
    // one call takes every waiting datagram up to a batch, and later calls hand them on.
    std::optional<ReceivedDatagram> receive_from(std::span<std::uint8_t> buffer);
    // Datagrams taken from the socket and not yet handed on: the socket no longer shows
    // them as readable, so a caller that waits on it must not wait while this is true.
    bool holds_received() const { return batches && !batches->received.empty(); }
    // Waits until a datagram is readable or `timeout_ms` passed; false on time-out or error.
    bool wait_readable(int timeout_ms) const;

    void set_destination(const SocketAddress& address) {
        destination = address;
        use_destination = 1;
    }
    // Local address that bind_port binds and that a connect leaves from; 0 means any
    // interface. Lets several participants live on one machine, each on its own 127.x.
    void set_local_ip(std::uint32_t ip) { local_ip = ip; }
    // The bound local address of the socket, for tests and diagnostics.
    std::optional<SocketAddress> local_address() const;

    SocketHandle handle() const { return socket_handle; }
    bool is_open() const { return socket_handle != INVALID_SOCKET_HANDLE; }

    SocketAddress destination;
    SocketAddress endpoint_address;
    int socket_type = 0;
    int use_destination = 0;
    // Connect threads started by this endpoint.
    std::uint32_t connect_threads_started = 0;

  private:
    bool bind_to(const SocketAddress& address);
    // Closes the current socket and takes `handle` in its place.
    void adopt(SocketHandle handle, bool stream);
    // Where a datagram sent now goes: nothing for the connected default destination.
    std::optional<SocketAddress> current_destination() const;
    bool send_alone(std::span<const std::uint8_t> data, const std::optional<SocketAddress>& to,
                    std::uint32_t from_ip) const;

    SocketHandle socket_handle = INVALID_SOCKET_HANDLE;
    SocketHandle standby_handle = INVALID_SOCKET_HANDLE;
    std::uint32_t local_ip = 0;
    ReplySources reply_sources;
    // Made with the first socket: a node that never opens one (a test's, the fuzzer's)
    // does not carry the 36 KB.
    std::unique_ptr<DatagramBatches> batches;
    std::shared_ptr<ConnectAttempt> connect_attempt;
    std::optional<BindFailure> last_bind_failure;
};

// Starts the platform's socket library, asking for version 2.0; true only when that is
// the version it reports. On POSIX there is nothing to start.
bool startup_socket_library();
void cleanup_socket_library();

}  // namespace tw
