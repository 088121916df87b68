#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "net/net_message.h"
#include "net/token_bucket.h"
#include "transport/session_time.h"
#include "transport/socket_address.h"

namespace tw {

// How long the id of a login answered without a session stays good: one slot and the
// next, so between 30 and 60 s, as long as a waiting login's answer is kept.
inline constexpr SessionTime COOKIE_SLOT = std::chrono::seconds(30);
// Names of logins answered without a session. Each new one takes the older of the two
// places its address hashes to, so a flood costs a fixed 5 MB, and a real login's name
// is lost only if later logins hit both of its places before its ack is back: at 20,000
// forged logins a second and a 40-ms round trip, about once in 10,000 logins (with one
// place it was once in 80). A client that finds its name gone is told at once that it
// has no session, and logs in again 2 s later.
inline constexpr std::size_t COOKIE_NAMES = 65536;
// Acks checked against a kept login at most this many a second. A cookie is 31 bits, two
// of them good at a time, so a forger who guesses has one chance in 2^30 a check: at this
// rate one fake user takes him 18 hours on average, where an unlimited server checked
// 480,000 a second and let one in after 40 minutes.
inline constexpr float COOKIE_CHECKS_PER_SECOND = 16384.0F;

// A login answered without a session, as its confirmation finds it again.
struct RememberedLogin {
    std::string name;
    std::int32_t reserved = 0;
};

// Logins that no waiting place was left for are answered without keeping a session: the
// answer's id is a keyed hash of the login's address, port and time slot, as TCP's SYN
// cookies are. Only a client that receives at that address can acknowledge that id, so
// the ack proves the address, however many forged logins came in between; all the server
// kept meanwhile is the name, in a table of fixed size.
class LoginCookies {
  public:
    // The secret key; nothing is issued or accepted before it is set.
    void set_key(std::uint64_t first, std::uint64_t second);
    bool has_key() const { return keyed; }

    // The answer's id for a login from `from` at `now`, and its name kept for later. A
    // login already kept for that address and port under another name is given up, not
    // renamed, and nothing is issued: one of the two is a forger's, and nothing tells
    // which.
    std::optional<std::int32_t> issue(const SocketAddress& from, SessionTime now,
                                      std::string_view name, std::int32_t reserved);
    // The login behind an acknowledged id: its name, when `id` is what this address was
    // given in this slot or the one before and the name is still there. Taken once: the
    // other copies of the ack find nothing. Only an address with a login kept is checked
    // at all, within COOKIE_CHECKS_PER_SECOND, and a wrong id costs it its login: every
    // guess costs the forger a login of its own.
    std::optional<RememberedLogin> redeem(std::int32_t id, const SocketAddress& from,
                                          SessionTime now);
    // Whether `id` is an answer's id this address could have been given lately.
    bool valid(std::int32_t id, const SocketAddress& from, SessionTime now) const;
    // Gives the names' table back once no cookie it holds can be redeemed any more: a
    // flood's memory goes with the flood.
    void forget_stale(SessionTime now);

  private:
    struct Entry {
        SocketAddress address;
        std::int32_t reserved = 0;
        std::uint32_t slot = 0;
        // When it was taken, counted in logins kept: the older of two places is given up.
        std::uint32_t kept_as = 0;
        std::uint8_t size = 0;
        std::array<char, TEXT_SIZE> name{};
    };

    std::uint64_t hash(const SocketAddress& address, std::uint32_t slot) const;
    std::int32_t id_for(const SocketAddress& address, std::uint32_t slot) const;
    // The two places `address` may be kept in, keyed so that a forger cannot aim at them.
    Entry& place_of(const SocketAddress& address, std::uint32_t which) const;
    // An empty place of `address`'s two, or else the one kept longer ago.
    Entry& place_to_take(const SocketAddress& address) const;
    // Where `address` is kept, if it is.
    Entry* kept(const SocketAddress& address) const;

    std::uint64_t key_first = 0;
    std::uint64_t key_second = 0;
    bool keyed = false;
    std::uint32_t last_issued_slot = 0;
    std::uint32_t logins_kept = 0;
    TokenBucket checks{COOKIE_CHECKS_PER_SECOND};
    // Made with the first cookie: a client, and a server that never met a flood, need none.
    std::unique_ptr<std::array<Entry, COOKIE_NAMES>> names;
};

// SipHash-2-4 of `data` under a 128-bit key: short inputs, keyed, and not to be reversed
// from what it gives out.
std::uint64_t siphash24(std::uint64_t first_key, std::uint64_t second_key, const std::uint8_t* data,
                        std::size_t size);

}  // namespace tw
