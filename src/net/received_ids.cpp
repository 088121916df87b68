#include "net/received_ids.h"

#include <algorithm>

namespace tw {

bool ReceivedIds::remember(std::int32_t id) {
    const auto serial = static_cast<std::uint32_t>(id);
    if (!started) {
        started = true;
        newest = serial;
        return true;
    }
    if (bits.empty()) {
        bits.assign(WINDOW / WORD_BITS, 0);
        set(newest);
    }
    // The distance ahead of the newest id, read as a signed serial-number difference.
    const auto ahead = static_cast<std::int32_t>(serial - newest);
    if (ahead > 0 && static_cast<std::uint32_t>(ahead) >= WINDOW) {
        return remember_stray(serial);
    }
    if (ahead > 0) {
        clear_after_newest(static_cast<std::uint32_t>(ahead));
        newest = serial;
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

bool ReceivedIds::remember_stray(std::uint32_t serial) {
    const auto end = strays.begin() + static_cast<std::ptrdiff_t>(stray_count);
    if (std::find(strays.begin(), end, serial) != end) {
        return false;
    }
    if (stray_count < STRAYS) {
        ++stray_count;
    }
    std::rotate(strays.begin(), strays.begin() + static_cast<std::ptrdiff_t>(STRAYS - 1),
                strays.end());
    strays[0] = serial;
    return true;
}

// Ids newer than the old newest take the places of ids that fall out of the window.
void ReceivedIds::clear_after_newest(std::uint32_t count) {
    std::uint32_t serial = newest + 1;
    std::uint32_t left = count;
    while (left > 0 && serial % WORD_BITS != 0) {
        bits[word_of(serial)] &= ~bit_of(serial);
        ++serial;
        --left;
    }
    while (left >= WORD_BITS) {
        bits[word_of(serial)] = 0;
        serial += WORD_BITS;
        left -= WORD_BITS;
    }
    while (left > 0) {
        bits[word_of(serial)] &= ~bit_of(serial);
        ++serial;
        --left;
    }
}

}  // namespace tw
