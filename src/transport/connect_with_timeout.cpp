#include <atomic>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "transport/frame_timer.h"
#include "transport/socket_endpoint.h"
#include "transport/socket_system.h"

namespace tw {

namespace {

// What one attempt reports through. Each attempt has its own record, shared with its
// thread: a thread left over from an attempt that timed out can then never report into
// a later attempt, and the record lives as long as either side needs it. `remote` is
// written before `connect_pending` is cleared and read only after.
struct ConnectAttempt {
    std::atomic<int> connect_pending{1};
    std::atomic<bool> connect_succeeded{false};
    SocketAddress remote;
};

struct ConnectRequest {
    SocketHandle socket_handle = INVALID_SOCKET_HANDLE;
    std::string host;
    std::uint16_t port = 0;
    int timeout_ms = 0;
};

// The host lookup runs here too: a resolver that never answers would otherwise hold the
// caller for as long as the system's resolver cares to wait.
void run_connect(ConnectRequest request, std::shared_ptr<ConnectAttempt> attempt) {
    sys::lower_thread_priority();
    bool connected = false;
    if (const auto ip = sys::resolve_ipv4(request.host.c_str())) {
        attempt->remote = SocketAddress{*ip, request.port};
        connected = sys::connect(request.socket_handle, attempt->remote);
    }
    sys::release_thread_handle(request.socket_handle);
    attempt->connect_succeeded.store(connected, std::memory_order_relaxed);
    attempt->connect_pending.store(0, std::memory_order_release);
}

}  // namespace

bool SocketEndpoint::connect_with_timeout(const char* host, int port, int timeout_ms) {
    if (host == nullptr || !is_open() || (local_ip != 0 && !bind_to(SocketAddress{local_ip, 0}))) {
        return false;
    }
    ConnectRequest request{sys::thread_handle(socket_handle), host,
                           static_cast<std::uint16_t>(port), timeout_ms};
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

    // A datagram connect returns at once, so this wait normally ends within a few turns;
    // a slow resolver makes it long, and a caller with a window keeps it alive meanwhile.
    FrameTimer timer;
    timer.start();
    while (attempt->connect_pending.load(std::memory_order_acquire) != 0) {
        if (timer.elapsed() * 1000.0 > static_cast<double>(timeout_ms)) {
            break;
        }
        if (!connect_wait) {
            std::this_thread::yield();
        } else if (!connect_wait()) {
            return false;
        }
    }
    if (attempt->connect_pending.load(std::memory_order_acquire) != 0 ||
        !attempt->connect_succeeded.load(std::memory_order_relaxed)) {
        return false;
    }
    endpoint_address = attempt->remote;
    return true;
}

}  // namespace tw
