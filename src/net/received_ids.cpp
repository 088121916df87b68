#include "net/received_ids.h"

namespace tw {

IdFate ReceivedIds::remember(std::int32_t id) {
    const auto serial = static_cast<std::uint32_t>(id);
    if (!started) {
        anchor(id);
        set(serial);
        return IdFate::fresh;
    }
    const std::int32_t ahead = ahead_of_newest(serial);
    if (ahead > static_cast<std::int32_t>(REACH)) {
        return IdFate::out_of_reach;
    }
    if (ahead > 0) {
        slide_to(serial);
        set(serial);
        return IdFate::fresh;
    }
    const std::uint32_t behind = newest - serial;
    if (behind >= WINDOW || is_set(serial)) {
        return IdFate::seen;
    }
    set(serial);
    return IdFate::fresh;
}

void ReceivedIds::heard(std::int32_t id) {
    if (could_be_next(id)) {
        slide_to(static_cast<std::uint32_t>(id));
    }
}

bool ReceivedIds::could_be_next(std::int32_t id) const {
    const std::int32_t ahead = ahead_of_newest(static_cast<std::uint32_t>(id));
    return started && ahead > 0 && ahead <= static_cast<std::int32_t>(REACH);
}

void ReceivedIds::anchor(std::int32_t id) {
    const auto serial = static_cast<std::uint32_t>(id);
    if (could_be_next(id)) {
        slide_to(serial);
        return;
    }
    if (started && ahead_of_newest(serial) <= 0 && newest - serial < WINDOW) {
        return;  // within the window: the peer's own ids are where they should be
    }
    // A first id, or the window was somewhere the peer's counter is not: what it held
    // says nothing about the ids to come.
    bits.assign(WINDOW / WORD_BITS, 0);
    newest = serial;
    started = true;
}

void ReceivedIds::slide_to(std::uint32_t serial) {
    clear_after_newest(serial - newest);
    newest = serial;
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
