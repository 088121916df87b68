#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "transport/frame_timer.h"
#include "transport/socket_endpoint.h"
#include "transport/socket_system.h"

namespace tw {

// What one attempt reports through. Each attempt has its own record, shared with its
// thread: a thread left over from an attempt that was given up can then never report into
// a later attempt, and the record lives as long as either side needs it. `remote` is
// written before `connect_pending` is cleared and read only after.
struct ConnectAttempt {
    std::atomic<int> connect_pending{1};
    std::atomic<bool> connect_succeeded{false};
    SocketAddress remote;
};

namespace {

struct ConnectRequest {
    SocketHandle socket_handle = INVALID_SOCKET_HANDLE;
    std::string host;
    std::uint16_t port = 0;
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

// How often a caller without anything else to do looks whether its connect has ended.
constexpr auto CONNECT_LOOK_INTERVAL = std::chrono::milliseconds(1);

}  // namespace

bool SocketEndpoint::start_connect(const char* host, int port) {
    forget_connect();
    if (host == nullptr || !is_open() || (local_ip != 0 && !bind_to(SocketAddress{local_ip, 0}))) {
        return false;
    }
    ConnectRequest request{sys::thread_handle(socket_handle), host,
                           static_cast<std::uint16_t>(port)};
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
    connect_attempt = std::move(attempt);
    return true;
}

ConnectProgress SocketEndpoint::connect_progress() {
    if (!connect_attempt) {
        return ConnectProgress::none;
    }
    if (connect_attempt->connect_pending.load(std::memory_order_acquire) != 0) {
        return ConnectProgress::pending;
    }
    const std::shared_ptr<ConnectAttempt> ended = std::exchange(connect_attempt, nullptr);
    if (!ended->connect_succeeded.load(std::memory_order_relaxed)) {
        return ConnectProgress::failed;
    }
    endpoint_address = ended->remote;
    return ConnectProgress::connected;
}

void SocketEndpoint::forget_connect() {
    connect_attempt.reset();
}

bool SocketEndpoint::connect_with_timeout(const char* host, int port, int timeout_ms) {
    if (!start_connect(host, port)) {
        return false;
    }
    FrameTimer timer;
    timer.start();
    for (;;) {
        const ConnectProgress progress = connect_progress();
        if (progress != ConnectProgress::pending) {
            return progress == ConnectProgress::connected;
        }
        if (timer.elapsed() * 1000.0 > static_cast<double>(timeout_ms)) {
            forget_connect();
            return false;
        }
        std::this_thread::sleep_for(CONNECT_LOOK_INTERVAL);
    }
}

}  // namespace tw
