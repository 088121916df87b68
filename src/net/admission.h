#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "net/login_cookies.h"
#include "net/net_message.h"
#include "net/peer_table.h"

namespace tw {

// Logins waiting for the ack of their answer, each sent its answer every 2 s until it
// confirms or 30 s have passed. Once these places are taken, a login is answered without
// a session (login_cookies.h), so a host forging logins from any number of addresses
// fills these places and no more, and a real login still gets in by its ack; half the
// table stays for clients that did confirm.
inline constexpr std::size_t MAX_WAITING_PEERS = MAX_PEERS / 2;
// Sessions of one address: a few users on one computer or behind one NAT, but no single
// host can fill the table. Only proven sessions count against it, since anyone can send
// logins from any address; a host's waiting logins beyond as many are answered by cookie,
// which keeps nothing, so that forged logins take no real user's place.
inline constexpr std::size_t MAX_SESSIONS_PER_HOST = 8;
// An address and port whose waiting login was heard under two names takes no login for
// this long: a forger who sends his login from there again and again would otherwise get
// the next waiting place under his name, answered to the real client, who would take
// that answer for its own. Its client logs in afresh from a new port meanwhile.
inline constexpr SessionTime DISPUTE_SPAN = std::chrono::seconds(30);
// Addresses and ports remembered as disputed; the oldest give way.
inline constexpr std::size_t DISPUTES_KEPT = 64;

// What a refused login is told, as the text of a logout; its client shows it.
inline constexpr const char* HOST_FULL_REASON = "Server full: 8 sessions from your host";
inline constexpr const char* TABLE_FULL_REASON = "Server full: 256 users";

// What a server does with a datagram from an address that has no session.
struct AdmissionDecision {
    enum class Step {
        wait,              // a waiting place for the login
        wait_redeemed,     // a waiting place for the login behind the acked cookie
        answer_by_cookie,  // every waiting place is taken: answered without a session
        drop,              // nothing more than what the flags say
    };
    Step step = Step::drop;
    // The login a redeemed cookie kept.
    std::optional<RememberedLogin> login;
    // Why a login may not have its place (host at its bound, table full), if it may not.
    const char* reason = nullptr;
    // Counted as from no session.
    bool unknown = false;
    // Its sender counts itself in a session this server does not have.
    bool tell_no_session = false;
};

// Who gets a place in a server's table, and how: its waiting places, the cookies that
// answer logins once those are taken, the bound per host, the refusals, and the rules by
// which a waiting login confirms or a confirmed client starts over. Every such rule is
// here; the receive path asks and does what it is told.
class Admission {
  public:
    // A datagram from `source`, which has no session in `peers`.
    AdmissionDecision unknown_sender(const PeerTable& peers, const NetMessage& message,
                                     const SocketAddress& source, SessionTime now);
    // The id of the answer to a login from `source` that no waiting place was left for;
    // nothing when a login kept for that address and port came under another name.
    std::optional<std::int32_t> issue_cookie(const NetMessage& login, const SocketAddress& source,
                                             SessionTime now,
                                             const std::function<std::int32_t()>& id_source);
    // What a server does with a login from an address in its table.
    enum class LoginStep {
        none,              // nothing: its answer already waits for the ack, or it is not
                           // the confirmed session's own user
        answer,            // a waiting login: its answer is queued, then `answered`
        answer_by_cookie,  // a confirmed client started over: answered as a new login,
                           // whose ack ends that session and starts the next
        withdraw,          // a waiting login heard under a second name: let go unanswered
    };
    // A login from `peer`; a waiting one keeps the name and reserved field its first
    // login gave. Nothing on the wire tells which of two names from one address and port
    // is its client's (a forger's may come first), so under another name it is withdrawn
    // rather than renamed: its client hears it has no session and logs in afresh.
    static LoginStep login_from(Peer& peer, const NetMessage& login);
    // `peer`'s waiting login was answered by `answer`, whose ack confirms it.
    static void answered(Peer& peer, std::int32_t answer);
    // The waiting place just made for `login`, which a cookie kept, whose answer was
    // `answer`.
    static void redeemed(Peer& peer, const RememberedLogin& login, std::int32_t answer);
    // Whether the ack of `acked` confirms `peer`'s waiting login.
    static bool confirms(const Peer& peer, std::int32_t acked);
    // Why the waiting login at `position`, now proven, may still not have its session
    // (its host's proven sessions are at the bound); nothing when it may.
    static const char* refusal_at_confirm(const PeerTable& peers, std::size_t position);
    // The new login of a confirmed peer's client, restarted on its old port, when `acked`
    // is its cookie: the old session gives way to it. Taken once.
    std::optional<RememberedLogin> restarted(const Peer& peer, std::int32_t acked, SessionTime now);
    // `address`'s waiting login was heard under a second name.
    void dispute(const SocketAddress& address, SessionTime now);
    // Gives a flood's memory back once its cookies are stale.
    void forget_stale(SessionTime now) { cookies.forget_stale(now); }

  private:
    static bool answers_relogin(const Peer& peer, std::string_view name);
    // What the table holds for a login from `address` under `name`.
    struct Load {
        std::size_t waiting = 0;
        std::size_t waiting_of_host = 0;
        std::size_t confirmed = 0;
        std::size_t confirmed_of_host = 0;
        // A proven session of the same user (host and name) it would take over.
        bool replaces_own = false;
    };
    static Load load_for(const PeerTable& peers, const SocketAddress& address,
                         std::string_view name);
    // Why a proven session may not be had, if it may not.
    static const char* refusal(const Load& load);
    AdmissionDecision login(const PeerTable& peers, const NetMessage& message,
                            const SocketAddress& source) const;
    AdmissionDecision cookie_ack(const PeerTable& peers, const NetMessage& message,
                                 const SocketAddress& source, SessionTime now);

    bool disputed(const SocketAddress& address, SessionTime now) const;

    struct Dispute {
        SocketAddress address;
        SessionTime until{0};
    };
    LoginCookies cookies;
    std::array<Dispute, DISPUTES_KEPT> disputes{};
    std::size_t next_dispute = 0;
};

}  // namespace tw
