#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

#include "transport/frame_timer.h"
#include "transport/socket_endpoint.h"
#include "transport/socket_system.h"

namespace tw {

namespace {

// The two flags one attempt reports through. Each attempt has its own pair, shared with
// its thread: a thread left over from an attempt that timed out can then never report
// into a later attempt, and the flags live as long as either side needs them.
struct ConnectAttempt {
    std::atomic<int> connect_pending{1};
    std::atomic<bool> connect_succeeded{false};
};

struct ConnectRequest {
    SocketHandle socket_handle = INVALID_SOCKET_HANDLE;
    SocketAddress remote;
    int timeout_ms = 0;
};

void run_connect(ConnectRequest request, std::shared_ptr<ConnectAttempt> attempt) {
    sys::lower_thread_priority();
    const bool connected = sys::connect(request.socket_handle, request.remote);
    sys::release_thread_handle(request.socket_handle);
    attempt->connect_succeeded.store(connected, std::memory_order_relaxed);
    attempt->connect_pending.store(0, std::memory_order_release);
}

}  // namespace

bool SocketEndpoint::connect_with_timeout(const char* host, int port, int timeout_ms) {
    const auto ip = sys::resolve_ipv4(host);
    if (!ip) {
        return false;
    }
    endpoint_address = SocketAddress{*ip, static_cast<std::uint16_t>(port)};
    if (!is_open() || (local_ip != 0 && !bind_to(SocketAddress{local_ip, 0}))) {
        return false;
    }
    ConnectRequest request{sys::thread_handle(socket_handle), endpoint_address, timeout_ms};
    if (request.socket_handle == INVALID_SOCKET_HANDLE) {
        return false;
    }

    auto attempt = std::make_shared<ConnectAttempt>();
    try {
        std::thread(run_connect, request, attempt).detach();
    } catch (const std::system_error&) {
        // Out of threads (or of memory for one): the attempt fails like any other
        // connect, and the program carries on.
        sys::release_thread_handle(request.socket_handle);
        return false;
    }
    ++connect_threads_started;

    // A datagram connect returns at once, so this wait normally ends within a few turns.
    FrameTimer timer;
    timer.start();
    while (attempt->connect_pending.load(std::memory_order_acquire) != 0) {
        if (timer.elapsed() * 1000.0 > static_cast<double>(timeout_ms)) {
            break;
        }
        std::this_thread::yield();
    }
    return attempt->connect_pending.load(std::memory_order_acquire) == 0 &&
           attempt->connect_succeeded.load(std::memory_order_relaxed);
}

}  // namespace tw
