#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <vector>

#include "transport/socket_endpoint.h"

namespace tw {
namespace {

// A plain socket on a loopback address of its own, to watch what an endpoint sends.
class Listener {
  public:
    explicit Listener(std::uint32_t ip) {
        endpoint.set_local_ip(ip);
        endpoint.open_socket(false);
        bound = endpoint.bind_port(0);
    }
    SocketAddress address() const { return endpoint.local_address().value_or(SocketAddress{}); }
    std::optional<ReceivedDatagram> wait_for_datagram() {
        if (!endpoint.wait_readable(5000)) {
            return std::nullopt;
        }
        return endpoint.receive_from(buffer);
    }

    SocketEndpoint endpoint;
    std::array<std::uint8_t, 200> buffer{};
    bool bound = false;
};

bool descriptor_is_open(SocketHandle fd) {
    return ::fcntl(static_cast<int>(fd), F_GETFD) != -1;
}

TEST(SocketLifetime, ReopeningClosesThePreviousSocket) {
    SocketEndpoint endpoint;
    const SocketHandle first = endpoint.open_socket(false);
    ASSERT_GE(first, 0);
    const SocketHandle second = endpoint.open_socket(false);
    EXPECT_TRUE(descriptor_is_open(second));
    if (second != first) {
        EXPECT_FALSE(descriptor_is_open(first));
    }
}

TEST(SocketLifetime, ClosedSocketFailsCleanly) {
    SocketEndpoint endpoint;
    endpoint.open_socket(false);
    EXPECT_EQ(endpoint.close_socket(), 0);
    EXPECT_FALSE(endpoint.is_open());
    EXPECT_EQ(endpoint.handle(), -1);
    EXPECT_EQ(endpoint.close_socket(), -1);
    const std::array<std::uint8_t, 88> record{};
    endpoint.set_destination(SocketAddress{ipv4(127, 0, 0, 1), 9});
    EXPECT_FALSE(endpoint.send_raw(record));
    std::array<std::uint8_t, 100> buffer{};
    EXPECT_FALSE(endpoint.receive_from(buffer).has_value());
    EXPECT_FALSE(endpoint.wait_readable(0));
}

TEST(SendRaw, UnconnectedSocketWithoutDestinationFails) {
    SocketEndpoint endpoint;
    endpoint.open_socket(false);
    const std::array<std::uint8_t, 88> record{};
    EXPECT_FALSE(endpoint.send_raw(record));
}

TEST(SendRaw, DestinationIsUsedOnANeverConnectedSocket) {
    Listener listener(ipv4(127, 0, 0, 20));
    ASSERT_TRUE(listener.bound);
    SocketEndpoint endpoint;
    endpoint.open_socket(false);
    endpoint.set_destination(listener.address());
    std::array<std::uint8_t, 88> record{};
    record[16] = 101;
    ASSERT_TRUE(endpoint.send_raw(record));
    const auto got = listener.wait_for_datagram();
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->size, 88U);
    EXPECT_EQ(listener.buffer[16], 101);
}

// Every 127.x address is the host's own: a server on all of them must answer each
// client from the address that client sent to, or its connected socket drops the answer.
TEST(SendRaw, AnAnswerLeavesFromTheAddressTheQuestionCameTo) {
    Listener server(0);
    ASSERT_TRUE(server.bound);
    const std::uint16_t port = server.address().port;
    SocketEndpoint client;
    client.set_local_ip(ipv4(127, 0, 0, 24));
    client.open_socket(false);
    ASSERT_TRUE(client.connect_with_timeout("127.0.0.5", port, 30000));
    const std::array<std::uint8_t, 88> record{};
    ASSERT_TRUE(client.send_raw(record));
    const auto question = server.wait_for_datagram();
    ASSERT_TRUE(question.has_value());

    server.endpoint.set_destination(question->source);
    ASSERT_TRUE(server.endpoint.send_raw(record));
    server.endpoint.send_later(record);
    EXPECT_EQ(server.endpoint.flush_sends(), 0U);
    for (const char* way : {"alone", "in a batch"}) {
        ASSERT_TRUE(client.wait_readable(5000)) << "the answer sent " << way << " never came";
        std::array<std::uint8_t, 100> buffer{};
        const auto answer = client.receive_from(buffer);
        ASSERT_TRUE(answer.has_value());
        EXPECT_EQ(answer->source, (SocketAddress{ipv4(127, 0, 0, 5), port})) << way;
    }
}

// Datagrams numbered in byte 0, `count` of them from `first`, each `size` bytes.
void send_numbered(SocketEndpoint& sender, int first, int count, std::size_t size = 88) {
    std::vector<std::uint8_t> datagram(size);
    for (int i = first; i < first + count; ++i) {
        datagram[0] = static_cast<std::uint8_t>(i);
        sender.send_later(datagram);
    }
}

// A sender whose datagrams go to a listener of their own.
class SocketBatches : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(listener.bound);
        sender.open_socket(false);
        sender.set_destination(listener.address());
    }

    Listener listener{ipv4(127, 0, 0, 25)};
    SocketEndpoint sender;
};

// More than one batch each way: every datagram arrives once, in order, each handed on
// by itself, and an empty socket says so after the last one.
TEST_F(SocketBatches, ABatchThatFillsIsSentAndTakenInOrder) {
    const int count = static_cast<int>(BATCH_DATAGRAMS) + 3;
    send_numbered(sender, 0, count);
    EXPECT_TRUE(listener.endpoint.wait_readable(5000)) << "a full batch leaves at once";
    EXPECT_EQ(sender.flush_sends(), 0U);
    for (int i = 0; i < count; ++i) {
        const auto got = listener.wait_for_datagram();
        ASSERT_TRUE(got.has_value()) << "datagram " << i;
        EXPECT_EQ(listener.buffer[0], i);
    }
    EXPECT_FALSE(listener.endpoint.receive_from(listener.buffer).has_value());
}

// A datagram the batch call refuses (here: port 0) ends that call; the rest still go,
// one by one, and only the refused one counts as failed.
TEST_F(SocketBatches, APartialBatchIsFinishedDatagramByDatagram) {
    send_numbered(sender, 1, 1);
    sender.set_destination(SocketAddress{ipv4(127, 0, 0, 25), 0});
    send_numbered(sender, 2, 1);
    sender.set_destination(listener.address());
    send_numbered(sender, 3, 2);
    EXPECT_EQ(sender.flush_sends(), 1U);
    for (const int expected : {1, 3, 4}) {
        ASSERT_TRUE(listener.wait_for_datagram().has_value());
        EXPECT_EQ(listener.buffer[0], expected);
    }
}

// Sizes travel with each datagram of a batch: a short one between two records is handed
// on short (the session drops it), and what the batch still holds keeps the socket
// counted as readable.
TEST_F(SocketBatches, AShortDatagramInsideABatchKeepsItsSize) {
    send_numbered(sender, 1, 1);
    send_numbered(sender, 2, 1, 40);
    send_numbered(sender, 3, 1, 100);
    ASSERT_EQ(sender.flush_sends(), 0U);
    for (const std::size_t size : {88U, 40U, 100U}) {
        const auto got = listener.wait_for_datagram();
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(got->size, size);
        EXPECT_EQ(listener.endpoint.holds_received(), size != 100U);
        EXPECT_EQ(listener.endpoint.wait_readable(0), size != 100U);
    }
}

TEST(ConnectWithTimeout, UnresolvableHostFailsOnItsThread) {
    SocketEndpoint endpoint;
    endpoint.open_socket(false);
    EXPECT_FALSE(endpoint.connect_with_timeout("no-such-host.invalid", 1210, 30000));
    EXPECT_EQ(endpoint.connect_threads_started, 1U);
}

TEST(ConnectWithTimeout, LoopbackConnectSetsTheDefaultDestination) {
    Listener listener(ipv4(127, 0, 0, 21));
    ASSERT_TRUE(listener.bound);
    SocketEndpoint endpoint;
    endpoint.set_local_ip(ipv4(127, 0, 0, 22));
    endpoint.open_socket(false);
    ASSERT_TRUE(endpoint.connect_with_timeout("127.0.0.21", listener.address().port, 30000));
    EXPECT_EQ(endpoint.connect_threads_started, 1U);
    EXPECT_EQ(endpoint.endpoint_address, listener.address());
    const std::array<std::uint8_t, 88> record{};
    ASSERT_TRUE(endpoint.send_raw(record));
    const auto got = listener.wait_for_datagram();
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->source.ip, ipv4(127, 0, 0, 22)) << "a participant leaves from its own address";
}

// No thread can be started when the process may not have another one; root ignores the
// limit, so the child gives its rights up first. The connect must fail like any other,
// not end the program.
TEST(ConnectWithTimeout, AThreadThatCannotStartIsAFailedConnect) {
    const auto connect_without_threads = [] {
        if (::geteuid() == 0 && ::setuid(65534) != 0) {
            std::_Exit(3);
        }
        const rlimit none{0, 0};
        if (::setrlimit(RLIMIT_NPROC, &none) != 0) {
            std::_Exit(4);
        }
        SocketEndpoint endpoint;
        endpoint.open_socket(false);
        const bool connected = endpoint.connect_with_timeout("127.0.0.1", 1210, 1000);
        std::_Exit(!connected && endpoint.connect_threads_started == 0 ? 0 : 1);
    };
    EXPECT_EXIT(connect_without_threads(), ::testing::ExitedWithCode(0), "");
}

TEST(ConnectWithTimeout, ClosedSocketCannotConnect) {
    SocketEndpoint endpoint;
    EXPECT_FALSE(endpoint.connect_with_timeout("127.0.0.1", 1210, 1000));
}

// A stream listener whose accept queue is full drops further handshakes, so a connect
// to it hangs: the one way to see the wait end by its time-out on loopback.
TEST(ConnectWithTimeout, ConnectThatNeverCompletesTimesOut) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(ipv4(127, 0, 0, 23));
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    socklen_t size = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    const int port = ntohs(address.sin_port);

    std::vector<SocketEndpoint> fillers(4);
    bool timed_out = false;
    for (SocketEndpoint& filler : fillers) {
        filler.open_socket(true);
        if (!filler.connect_with_timeout("127.0.0.23", port, 300)) {
            timed_out = true;
            break;
        }
    }
    ::close(listener);
    EXPECT_TRUE(timed_out) << "a full accept queue should leave a connect hanging";
}

}  // namespace
}  // namespace tw

// The connect thread is detached and may still be inside glibc's resolver when a test
// ends; the resolver's buffer it has yet to free is glibc's, not a leak of ours.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
    return "leak:__res_context_send\n";
}
