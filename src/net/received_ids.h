#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tw {

// The ids of the reliable messages already received from one peer, as a sliding window
// over the newest ones. A sender's ids rise (its one counter also numbers its acks,
// pings and resend copies), so only the recent past can still bring a copy: a message
// is resent every 2 s and its peer is given up after 30 s. An id older than the window
// therefore counts as seen: it is acknowledged but not delivered again. Ids compare as
// serial numbers, so the window slides across the wrap from the largest id to the
// smallest.
//
// The window is as wide as the farthest a real sender runs ahead between two reliable
// messages that reach us (its queue bound times the copies it makes before it is given
// up leaves that far below 2^16). So an id that slides the window leaves every id it
// passed over inside it, still fresh. An id farther ahead than that cannot come from the
// sender's own counter: it is taken once, kept aside, and moves nothing, so no number of
// stray or forged datagrams can make the ids that follow them look old. (A client that
// starts its counter afresh, restarted on the same port, starts a session afresh with
// its login, and with it a window.)
class ReceivedIds {
  public:
    static constexpr std::uint32_t WINDOW = 1U << 16U;

    // Enters `id`; true when it was not seen yet, that is, the message is no duplicate.
    bool remember(std::int32_t id);

  private:
    static constexpr std::uint32_t WORD_BITS = 64;
    static constexpr std::size_t STRAYS = 8;

    bool remember_stray(std::uint32_t serial);
    void clear_after_newest(std::uint32_t count);

    static std::size_t word_of(std::uint32_t serial) { return (serial % WINDOW) / WORD_BITS; }
    static std::uint64_t bit_of(std::uint32_t serial) {
        return std::uint64_t{1} << (serial % WORD_BITS);
    }
    bool is_set(std::uint32_t serial) const {
        return (bits[word_of(serial)] & bit_of(serial)) != 0;
    }
    void set(std::uint32_t serial) { bits[word_of(serial)] |= bit_of(serial); }

    // Allocated with the second id: a peer's record stays small to move, and a login that
    // never confirms (its login is the one id it sends) costs nothing here.
    std::vector<std::uint64_t> bits;
    std::uint32_t newest = 0;
    bool started = false;
    // Ids far ahead of the window, the latest taken once each.
    std::array<std::uint32_t, STRAYS> strays{};
    std::size_t stray_count = 0;
};

}  // namespace tw
