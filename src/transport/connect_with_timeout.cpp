#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include "transport/frame_timer.h"
#include "transport/socket_endpoint.h"

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
    int socket_handle = -1;
    sockaddr_in remote{};
    int timeout_ms = 0;
};

std::optional<std::uint32_t> resolve_ipv4(const char* host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (host == nullptr || ::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
    sockaddr_in first{};
    std::copy_n(reinterpret_cast<const std::uint8_t*>(found->ai_addr), sizeof first,
                reinterpret_cast<std::uint8_t*>(&first));
    return ntohl(first.sin_addr.s_addr);
}

void run_connect(ConnectRequest request, std::shared_ptr<ConnectAttempt> attempt) {
    // The attempt must never hold up the frame loop's thread for the processor.
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
    const int result =
        ::connect(request.socket_handle, reinterpret_cast<const sockaddr*>(&request.remote),
                  sizeof request.remote);
    ::close(request.socket_handle);
    attempt->connect_succeeded.store(result != -1, std::memory_order_relaxed);
    attempt->connect_pending.store(0, std::memory_order_release);
}

}  // namespace

bool SocketEndpoint::connect_with_timeout(const char* host, int port, int timeout_ms) {
    const auto ip = resolve_ipv4(host);
    if (!ip) {
        return false;
    }
    endpoint_address = SocketAddress{*ip, static_cast<std::uint16_t>(port)};

    if (local_ip != 0 && !bind_to(SocketAddress{local_ip, 0})) {
        return false;
    }
    ConnectRequest request;
    // The thread connects through its own descriptor of the same socket, so a late
    // thread can never touch a descriptor number that the process has reused since.
    request.socket_handle = socket_handle < 0 ? -1 : ::dup(socket_handle);
    if (request.socket_handle < 0) {
        return false;
    }
    request.remote.sin_family = AF_INET;
    request.remote.sin_port = htons(endpoint_address.port);
    request.remote.sin_addr.s_addr = htonl(endpoint_address.ip);
    request.timeout_ms = timeout_ms;

    auto attempt = std::make_shared<ConnectAttempt>();
    ++connect_threads_started;
    std::thread(run_connect, request, attempt).detach();

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
