#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tw {

// The ids of the reliable messages already received from one peer, as a sliding window
// over the newest ones. A sender's ids rise (its one counter also numbers its acks,
// pings and resend copies), so only the recent past can still bring a copy: a message
// is resent every 2 s and its peer is given up after 30 s, while even a busy client
// spends only a few hundred ids in that time. An id older than the window therefore
// counts as seen: it is acknowledged but not delivered again. Ids compare as serial
// numbers, so the window slides across the wrap from the largest id to the smallest,
// and whatever a sender makes up, the window keeps its fixed size.
class ReceivedIds {
  public:
    static constexpr std::uint32_t WINDOW = 4096;

    // Enters `id`; true when it was not seen yet, that is, the message is no duplicate.
    bool remember(std::int32_t id) {
        const auto serial = static_cast<std::uint32_t>(id);
        if (!started) {
            started = true;
            newest = serial;
            set(serial);
            return true;
        }
        // The distance ahead of the newest id, read as a signed serial-number difference.
        const auto ahead = static_cast<std::int32_t>(serial - newest);
        if (ahead > 0) {
            slide_to(serial, static_cast<std::uint32_t>(ahead));
            set(serial);
            return true;
        }
        const std::uint32_t behind = newest - serial;
        if (behind >= WINDOW || is_set(serial)) {
            return false;
        }
        set(serial);
        return true;
    }

  private:
    static constexpr std::uint32_t WORD_BITS = 64;

    // Ids newer than the old newest take the places of ids that fall out of the window.
    void slide_to(std::uint32_t serial, std::uint32_t ahead) {
        if (ahead >= WINDOW) {
            bits.fill(0);
        } else {
            for (std::uint32_t step = 1; step <= ahead; ++step) {
                clear(newest + step);
            }
        }
        newest = serial;
    }

    static std::size_t word_of(std::uint32_t serial) { return (serial % WINDOW) / WORD_BITS; }
    static std::uint64_t bit_of(std::uint32_t serial) {
        return std::uint64_t{1} << (serial % WORD_BITS);
    }
    bool is_set(std::uint32_t serial) const {
        return (bits[word_of(serial)] & bit_of(serial)) != 0;
    }
    void set(std::uint32_t serial) { bits[word_of(serial)] |= bit_of(serial); }
    void clear(std::uint32_t serial) { bits[word_of(serial)] &= ~bit_of(serial); }

    std::array<std::uint64_t, WINDOW / WORD_BITS> bits{};
    std::uint32_t newest = 0;
    bool started = false;
};

}  // namespace tw
