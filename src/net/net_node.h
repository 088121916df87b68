#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/admission.h"
#include "net/client_session.h"
#include "net/net_message.h"
#include "net/peer_table.h"
#include "net/token_bucket.h"
#include "transport/socket_endpoint.h"

namespace tw {

inline constexpr std::size_t RECEIVE_BUFFER_SIZE = 8000;
// Acks a client sends for each copy of its login answer.
inline constexpr int LOGIN_ACK_COPIES = 3;
// A client pings its server this soon after the login answer: were all its acks lost,
// the server would not know it, and says so in its answer to the ping.
inline constexpr SessionTime FIRST_PING = std::chrono::seconds(1);
// A ping carries the node's clock as a 32-bit float, which only its own pong reads back.
// It counts from the node's first reading and wraps here, so that it keeps half a
// millisecond's precision however long the node runs.
inline constexpr SessionTime PING_CLOCK_WRAP = std::chrono::seconds(4096);
// Answers to datagrams from addresses without a session (the logout that tells a client
// it has no session, and a refused login's reason) at most this many a second, in bursts
// of as many. Each answers one datagram with one of the same size, so the server
// multiplies nothing it is sent, and the most it sends is 0.7 MB/s; a flood of forged
// pings must outrun this many a second before a real client's ping goes unanswered.
inline constexpr float UNATTACHED_REPLIES_PER_SECOND = 8192.0F;
// A peer's datagram that would end its session without proof draws a ping at most this
// often: the real peer's answer to it says whether the session still stands.
inline constexpr SessionTime CHALLENGE_INTERVAL = std::chrono::seconds(1);
// A client's own ids, counted back from the next, that a server's "no session" answer
// may echo: more than it sends in the round trip to any server on a LAN.
inline constexpr std::uint32_t RECENT_OWN_IDS = 4096;

// What the session layer tells the application, the messages it delivers included, in
// the order it happened; the application makes every line the user sees from these. An
// event is reported whether or not the message behind it carries a text: a server without
// a name is still a server.
struct SessionEvent {
    enum class What {
        // `message` came from the peer `peer` (nothing when the sender has just left the
        // table, as after a logout). Acks, pings and pongs are the session's own business
        // and are not handed on; neither is a message without a text.
        message,
        joined,     // a server's new client confirmed its login
        accepted,   // a client's server answered its login
        left,       // a peer that was shown as in has logged out
        heard,      // a client's server acknowledged its login; the answer is on its way
        timed_out,  // a server's client fell silent or left too much unacknowledged
        lost,       // a client's session with its server ended, by a goodbye or by silence
        renamed,    // a peer took the name `name`; it had `earlier_name`
        // The way into a server's room, asked for by connect_to; `address_text` is the
        // host as it was asked for. The client's own attempts after a loss report none.
        connected,       // the host was reached; the login is out
        connect_failed,  // the host could not be reached
        no_answer,       // the login had no answer in time
        refused,         // the server gave `name` as its reason to refuse the login
        // The client's own chat lines.
        delivered,  // its server acknowledged the line in `message`
        kept,       // the session ended with `count` lines never acknowledged, kept to go
                    // again once the client is back in
        resent,     // `count` lines the last server never acknowledged went again
    };
    What what = What::joined;
    std::string name;
    std::string address_text;
    // A joined client's earlier session, its own on another port of the same host, ended.
    bool replaced_earlier = false;
    // Lost: the server fell silent (and the socket is closed) rather than said goodbye.
    bool silent = false;
    std::string earlier_name = {};
    std::size_t count = 0;
    NetMessage message = {};
    std::optional<PeerHandle> peer = {};

    bool operator==(const SessionEvent&) const = default;
};

// Counted instead of logged, so that tests and benchmarks can see what was dropped.
struct NetCounters {
    std::uint64_t received = 0;
    std::uint64_t dropped_short = 0;
    std::uint64_t dropped_unknown = 0;
    std::uint64_t duplicates = 0;
    std::uint64_t sent = 0;
    // Logins not answered: their host had all its sessions, or confirmed peers filled
    // the table.
    std::uint64_t refused_logins = 0;
    // Logins answered without a session, every waiting place being taken.
    std::uint64_t cookie_logins = 0;
    // Datagrams from no session that were told so with a logout.
    std::uint64_t told_unknown = 0;
    // Chat lines left unacknowledged because their author had too much unacknowledged.
    std::uint64_t held_back_lines = 0;
    // Logouts and login answers that carried nothing to show they came from the peer
    // (a logout then draws a ping), and reliable datagrams whose id its counter could not
    // have reached (dropped unacknowledged).
    std::uint64_t unproven = 0;
    // Datagrams other than acks, logins and logouts from a login not yet confirmed.
    std::uint64_t dropped_unconfirmed = 0;
    // Logins that never acknowledged their answer and were let go without a word.
    std::uint64_t abandoned_logins = 0;
};

// Where a datagram goes: a peer's address, or nothing for the socket's connected default.
using Transmitter =
    std::function<bool(std::span<const std::uint8_t> datagram, std::optional<SocketAddress> to)>;
// Where a server takes the first id of each new login's session from.
using IdSource = std::function<std::int32_t()>;

enum class NodeRole { client, server };

namespace test {
struct NodeAccess;
}  // namespace test

// An id no one can guess, from the operating system's random source, as a TCP stack picks
// its initial sequence numbers.
std::int32_t unpredictable_id();

// The process's one network node: its socket, its peers and the notices it leaves for
// the user. Receiving and the maintenance pass never block and never read a clock: each
// is given the frame's reading of the monotonic clock, so the whole session can be driven
// by a test with chosen datagrams and chosen times.
class NetNode {
  public:
    NetNode() = default;
    // A node that serves from the start, on a socket its owner binds (tests, benchmarks).
    explicit NetNode(NodeRole role) : serving(role == NodeRole::server) {}

    // Read only, outside the session layer: the frame loop waits on the socket, and the
    // application and tests look at the table and the counts.
    const SocketEndpoint& endpoint() const { return socket_endpoint; }
    const PeerTable& peers() const { return peer_table; }
    const NetCounters& counters() const { return counts; }
    // Opens a socket on `local_ip` (0: any) bound to `port` (0: any free one), for a node
    // that serves from the start (tests, benchmarks): the address it has, or nothing when
    // it could not be bound.
    std::optional<SocketAddress> bind(std::uint32_t local_ip, int port);
    // The address every later socket binds to and connects leave from (0: any); a test's
    // participants each take one of their own.
    void set_local_ip(std::uint32_t ip) { socket_endpoint.set_local_ip(ip); }

    bool is_server() const { return serving; }
    const std::string& name() const { return own_name; }
    // Events not yet taken by the application, oldest first.
    const std::vector<SessionEvent>& events() const { return pending_events; }
    std::vector<SessionEvent> take_events() { return std::exchange(pending_events, {}); }
    // Forgets the events read through events(); the list keeps its room, so that a frame
    // of relayed lines allocates nothing for them.
    void clear_events() { pending_events.clear(); }

    // Peer table.
    std::optional<std::size_t> find_peer(const SocketAddress& address) const;
    // The peer of `handle`, or nothing once it has left.
    const Peer* peer(PeerHandle handle) const;

    // Takes at most one datagram from the socket and dispatches it at `now`; false when
    // the socket had none. A datagram taken but dropped (a duplicate, junk) is no reason
    // to stop reading; an empty socket is.
    bool receive(SessionTime now);
    // The session work for one datagram from `source` at `now`, without any socket.
    void dispatch(std::span<const std::uint8_t> datagram, const SocketAddress& source,
                  SessionTime now);

    // Becomes the server on `port`, from a fresh socket: a client's server is told
    // goodbye from the old socket first and its session ends, lines not yet acknowledged
    // included. Nothing when that is done; when the port cannot be bound, why, and the
    // node is exactly as it was, a client's session included.
    std::optional<BindFailure> serve(int port);
    // Ends a client's session, lines not yet acknowledged included, and takes the way
    // into the room of `host` on `port`: the connect, the login and its answer, and after
    // a loss the attempts of its own until it is back in. The passes drive it; what it
    // comes to is told as events.
    void connect_to(std::string host, int port);
    // Where the client stands with its server.
    const ClientSession& client_session() const { return session; }
    // The draws that spread the attempts after a loss; seeded, they repeat.
    void seed_reconnects(std::uint32_t seed) { reconnect_draws.seed(seed); }

    // Sending.
    void maintain(SessionTime now);
    void broadcast_chat(std::string_view text, bool reliable);
    void change_name(std::string_view new_name);
    void broadcast_logout();
    // A login from this node's socket, as its client sends it; tests and the fuzzer log
    // in with it without a connect.
    void send_login(std::string_view login_name);

    // Reliable messages every peer can still take before its queue bound.
    std::size_t reliable_room() const;

    // How long after `now` the maintenance pass has something to do (a resend copy, a
    // ping, a time-out, an outbox to send, a step on the way into a session), from the
    // times the pass itself acts on; nothing when only a datagram can bring work.
    std::optional<SessionTime> time_until_due(SessionTime now) const;
    // The clock a ping sent now, or at `at`, carries.
    float ping_clock() const { return ping_clock_at(now); }
    float ping_clock_at(SessionTime at) const;
    // The reading of the last receive or pass.
    SessionTime last_reading() const { return now; }

    // Replaces the socket as the way out; tests and the fuzzer capture datagrams with it.
    void set_transmitter(Transmitter replacement) { transmitter = std::move(replacement); }
    // Replaces the random first ids; the fuzzer must run the same way every time.
    void set_id_source(IdSource replacement) { id_source = std::move(replacement); }

  private:
    friend void net_startup(NetNode& node);
    friend void net_shutdown(NetNode& node);
    // The one way in for tests that set up or break a table or a socket by hand.
    friend struct test::NodeAccess;

    // A datagram for an address that has no session: sent with the next pass.
    struct Unattached {
        SocketAddress to;
        NetMessage message;
    };

    // Does what admission decided for a datagram from an address without a session.
    std::optional<std::size_t> admit(const AdmissionDecision& decision, const NetMessage& message,
                                     const SocketAddress& source);
    // A login answered by cookie, back with the ack of `answer`: waiting for its confirmation.
    std::size_t admit_redeemed(const SocketAddress& address, const RememberedLogin& login,
                               std::int32_t answer);
    void answer_without_session(const NetMessage& login, const SocketAddress& source);
    // Tells `source` it has no session, echoing the id of the datagram that showed it
    // thinks it has: the proof that the answer comes from the server it sent that to.
    void tell_no_session(const SocketAddress& source, std::int32_t answered);
    // Tells a login why it gets no session.
    void refuse_login(const SocketAddress& source, const char* reason);
    // A client's server answering a login it did not send: a forger's, met by the cookie.
    bool unasked_answer(const NetMessage& message) const;
    // Whether a logout from `peer` carries what only the peer can know.
    bool proves_goodbye(const Peer& peer, std::int32_t id) const;
    void announce_timeout(std::size_t timed_out);
    void send_ping(Peer& peer);
    void flush_outbox(Peer& peer);
    // Asks `peer` whether the session stands, unless it was asked a moment ago.
    void challenge(Peer& peer);
    bool reply_unattached(const SocketAddress& to, const NetMessage& message);
    void flush_unattached();
    void restart_session(std::size_t sender, const NetMessage& ack);
    // Takes the reading of a call from outside; the first one starts the ping clock.
    void set_now(SessionTime reading);
    bool transmit(const WireRecord& record);
    // Kept by the endpoint and sent, in order, with the end of the maintenance pass.
    void transmit_later(const WireRecord& record);
    std::optional<std::size_t> admit_sender(const NetMessage& message, const SocketAddress& source);
    // Acknowledges a reliable message unless its id is far; what it was.
    IdFate acknowledge(Peer& peer, const NetMessage& message);
    // Hands `message` from `peer` on to the application, when it is the application's.
    void deliver(const NetMessage& message, const Peer& peer);
    void handle_kind(std::size_t sender, const NetMessage& message);
    void handle_ack(std::size_t sender, const NetMessage& message);
    void report_delivered_line(const Peer& server, std::int32_t acked);
    void handle_logout(std::size_t sender, const NetMessage& message);
    void handle_name_change(std::size_t sender, const NetMessage& message);
    void handle_login(std::size_t sender, const NetMessage& message);
    void confirm_login(std::size_t sender, const NetMessage& ack);
    void announce_departure(const std::string& departed, std::int32_t reserved,
                            std::optional<std::size_t> except);
    void relay_chat(std::size_t sender, const NetMessage& message);
    // True when the pass must end because the whole session is gone (a client's server).
    bool time_out(std::size_t position);
    void keep_unacknowledged_lines(const Peer& server);
    void report_kept_lines();
    void walk_peers();
    void handle_datagram(std::span<const std::uint8_t> datagram, const SocketAddress& source);
    // Tells the application, and follows what the event means for the client's session.
    void report(SessionEvent event);

    // The way into a session and back (net_connect.cpp). NEXT_FRAME for `at` when asked
    // between passes.
    void start_attempt(SessionTime at);
    void watch_session();
    void watch_connect(phase::Connecting& connecting);
    void log_in();
    void watch_login(phase::LoggingIn& logging_in);
    // A logout while the login waits is the server's refusal, with its reason; told once.
    void note_refusal(std::string reason);
    void attempt_failed(SessionEvent::What why, SessionTime at);
    void send_unacknowledged_lines();

    template <typename Fill>
    void queue_to_each(bool reliable, std::optional<std::size_t> except, Fill fill);

    SocketEndpoint socket_endpoint;
    PeerTable peer_table;
    NetCounters counts;
    Transmitter transmitter;
    IdSource id_source = unpredictable_id;
    Admission admission;
    std::vector<Unattached> unattached;
    TokenBucket reply_budget{UNATTACHED_REPLIES_PER_SECOND};
    // The reading of the receive or pass under way, and the first reading ever.
    SessionTime now{0};
    std::optional<SessionTime> first_reading;
    bool serving = false;
    std::string own_name;
    std::vector<SessionEvent> pending_events;
    // The chat lines a client's server never acknowledged before the session ended, in
    // the order they were typed: sent again once the client is back in.
    std::vector<std::string> kept_lines;
    ClientSession session;
    std::minstd_rand reconnect_draws{std::random_device{}()};
    std::array<std::uint8_t, RECEIVE_BUFFER_SIZE> receive_buffer{};
};

// Queues one message to every peer in table order, each with that peer's own next id; a
// login still waiting has it held until it confirms.
template <typename Fill>
inline void NetNode::queue_to_each(bool reliable, std::optional<std::size_t> except, Fill fill) {
    for (std::size_t i = 0; i < peer_table.size(); ++i) {
        if (except && *except == i) {
            continue;
        }
        fill(peer_table[i].queue_for_session(reliable));
    }
}

// Starts networking for the program: the socket library and one unbound datagram socket.
void net_startup(NetNode& node);
// The farewell: logout to every peer, one last pass that sends it, socket closed.
void net_shutdown(NetNode& node);

}  // namespace tw
