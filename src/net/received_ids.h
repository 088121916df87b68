#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tw {

// What the duplicate check makes of a reliable message's id.
enum class IdFate {
    fresh,         // not seen yet: acknowledged and taken
    seen,          // a copy already taken, or older than the window: acknowledged only
    out_of_reach,  // too far ahead to be the sender's next: neither acknowledged nor taken
};

// The ids heard from one peer, as a sliding window over the newest ones. A sender's ids
// rise (its one counter also numbers its acks, pings and resend copies), so only the
// recent past can still bring a copy: a message is resent every 2 s and its peer is given
// up after 30 s. An id older than the window therefore counts as seen: it is acknowledged
// but not delivered again. Ids compare as serial numbers, so the window slides across the
// wrap from the largest id to the smallest.
//
// Every datagram from the peer, reliable or not, may slide the window, but only by an id
// its counter could have reached next: at most REACH past the newest one heard, which is
// more than a live peer ever loses in a row. Anything farther ahead moves nothing and is
// taken for nothing, however many such ids come and in whatever steps: a forger who does
// not see the traffic cannot know where a peer's counter stands (it starts at an
// unpredictable value), so he cannot walk the window away from the peer's own ids, nor
// slip a message in. Should a live peer ever jump farther (a long outage in one
// direction), the pong to the next ping, which only a host that saw the ping can send,
// anchors the window where the peer's counter really is; its resent messages then come
// in.
class ReceivedIds {
  public:
    static constexpr std::uint32_t WINDOW = 1U << 16U;
    static constexpr std::uint32_t REACH = 1024;

    // Enters the id of a reliable message.
    IdFate remember(std::int32_t id);
    // Notes the id of an unreliable datagram, which slides the window if it could be next.
    void heard(std::int32_t id);
    // Whether `id` could be the sender's next: ahead of the newest id heard, within REACH.
    bool could_be_next(std::int32_t id) const;
    // Where the peer's counter really stands, as proven by an answer to our own ping.
    void anchor(std::int32_t id);

  private:
    static constexpr std::uint32_t WORD_BITS = 64;

    // The distance of `serial` ahead of the newest id, read as a signed serial difference.
    std::int32_t ahead_of_newest(std::uint32_t serial) const {
        return static_cast<std::int32_t>(serial - newest);
    }
    void slide_to(std::uint32_t serial);
    void clear_after_newest(std::uint32_t count);

    static std::size_t word_of(std::uint32_t serial) { return (serial % WINDOW) / WORD_BITS; }
    static std::uint64_t bit_of(std::uint32_t serial) {
        return std::uint64_t{1} << (serial % WORD_BITS);
    }
    bool is_set(std::uint32_t serial) const {
        return (bits[word_of(serial)] & bit_of(serial)) != 0;
    }
    void set(std::uint32_t serial) { bits[word_of(serial)] |= bit_of(serial); }

    // Allocated with the first id: a peer's record stays small to move, and a login that
    // never confirms costs nothing here.
    std::vector<std::uint64_t> bits;
    std::uint32_t newest = 0;
    bool started = false;
};

}  // namespace tw
