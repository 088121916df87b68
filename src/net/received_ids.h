#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>

namespace tw {

// The ids of the reliable messages already received from one peer, kept for as long as
// the peer exists. A sender's ids rise (its one counter also numbers its acks and pings),
// so they are held as bits of 64-id windows: a chatting client costs a few bits per id
// instead of a tree node per id, and the heap is touched once per window rather than once
// per datagram. The windows sit in an ordered map, so ids arriving in any order still
// cost one logarithmic search, as a map of single ids did; only ids scattered over the
// whole range (one per window) cost more than that: 64 instead of 48 bytes each.
class ReceivedIds {
  public:
    // Enters `id`; true when it was not there yet, that is, the message is no duplicate.
    bool remember(std::int32_t id) {
        const std::uint64_t bit = bit_of(id);
        std::uint64_t& bits = window_of(id);
        if ((bits & bit) != 0) {
            return false;
        }
        bits |= bit;
        ++remembered;
        return true;
    }

    bool contains(std::int32_t id) const {
        const auto found = windows.find(window_key(id));
        return found != windows.end() && (found->second & bit_of(id)) != 0;
    }
    std::size_t count(std::int32_t id) const { return contains(id) ? 1U : 0U; }
    std::size_t size() const { return remembered; }
    bool empty() const { return remembered == 0; }

    void forget(std::int32_t id) {
        const auto found = windows.find(window_key(id));
        if (found == windows.end() || (found->second & bit_of(id)) == 0) {
            return;
        }
        found->second &= ~bit_of(id);
        --remembered;
        if (found->second == 0) {
            windows.erase(found);
        }
    }

    // The mark of one id, 1 when it is remembered and 0 otherwise, as an ordered map of
    // marks would give it; setting a mark other than 0 enters the id, 0 forgets it.
    class Mark {
      public:
        Mark(ReceivedIds& owner, std::int32_t marked) : ids(owner), id(marked) {}
        operator std::uint32_t() const { return ids.contains(id) ? 1U : 0U; }
        Mark& operator=(std::uint32_t mark) {
            if (mark != 0) {
                ids.remember(id);
            } else {
                ids.forget(id);
            }
            return *this;
        }

      private:
        ReceivedIds& ids;
        std::int32_t id;
    };
    Mark operator[](std::int32_t id) { return Mark(*this, id); }

  private:
    static constexpr std::uint32_t WINDOW_BITS = 64;

    static std::int32_t window_key(std::int32_t id) {
        return std::bit_cast<std::int32_t>(std::bit_cast<std::uint32_t>(id) & ~(WINDOW_BITS - 1));
    }
    static std::uint64_t bit_of(std::int32_t id) {
        return std::uint64_t{1} << (std::bit_cast<std::uint32_t>(id) & (WINDOW_BITS - 1));
    }

    std::uint64_t& window_of(std::int32_t id) {
        const std::int32_t key = window_key(id);
        // The newest window takes almost every id; look there before searching the tree.
        if (!windows.empty()) {
            const auto newest = std::prev(windows.end());
            if (newest->first == key) {
                return newest->second;
            }
            if (newest->first < key) {
                return windows.emplace_hint(windows.end(), key, 0)->second;
            }
        }
        return windows.try_emplace(key, 0).first->second;
    }

    std::map<std::int32_t, std::uint64_t> windows;
    std::size_t remembered = 0;
};

}  // namespace tw
