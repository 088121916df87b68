#include "net/login_cookies.h"

#include <algorithm>
#include <cmath>

namespace tw {

namespace {

std::uint64_t rotate(std::uint64_t value, int bits) {
    return (value << bits) | (value >> (64 - bits));
}

struct SipState {
    std::uint64_t v0, v1, v2, v3;

    void round() {
        v0 += v1;
        v1 = rotate(v1, 13) ^ v0;
        v0 = rotate(v0, 32);
        v2 += v3;
        v3 = rotate(v3, 16) ^ v2;
        v0 += v3;
        v3 = rotate(v3, 21) ^ v0;
        v2 += v1;
        v1 = rotate(v1, 17) ^ v2;
        v2 = rotate(v2, 32);
    }
    void absorb(std::uint64_t word) {
        v3 ^= word;
        round();
        round();
        v0 ^= word;
    }
};

std::uint64_t load_le(const std::uint8_t* bytes, std::size_t count) {
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < count; ++i) {
        word |= std::uint64_t{bytes[i]} << (8 * i);
    }
    return word;
}

std::uint32_t slot_at(SessionTime now) {
    return static_cast<std::uint32_t>(std::max<SessionTime::rep>(0, now / COOKIE_SLOT));
}

}  // namespace

std::uint64_t siphash24(std::uint64_t first_key, std::uint64_t second_key, const std::uint8_t* data,
                        std::size_t size) {
    SipState state{first_key ^ 0x736f6d6570736575ULL, second_key ^ 0x646f72616e646f6dULL,
                   first_key ^ 0x6c7967656e657261ULL, second_key ^ 0x7465646279746573ULL};
    std::size_t offset = 0;
    for (; offset + 8 <= size; offset += 8) {
        state.absorb(load_le(data + offset, 8));
    }
    state.absorb(load_le(data + offset, size - offset) | (std::uint64_t{size & 0xFFU} << 56));
    state.v2 ^= 0xFFU;
    for (int i = 0; i < 4; ++i) {
        state.round();
    }
    return state.v0 ^ state.v1 ^ state.v2 ^ state.v3;
}

void LoginCookies::set_key(std::uint64_t first, std::uint64_t second) {
    key_first = first;
    key_second = second;
    keyed = true;
}

std::uint64_t LoginCookies::hash(const SocketAddress& address, std::uint32_t slot) const {
    std::array<std::uint8_t, 10> input{};
    for (int i = 0; i < 4; ++i) {
        input[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(address.ip >> (8 * i));
        input[static_cast<std::size_t>(6 + i)] = static_cast<std::uint8_t>(slot >> (8 * i));
    }
    input[4] = static_cast<std::uint8_t>(address.port);
    input[5] = static_cast<std::uint8_t>(address.port >> 8U);
    return siphash24(key_first, key_second, input.data(), input.size());
}

std::int32_t LoginCookies::id_for(const SocketAddress& address, std::uint32_t slot) const {
    // Positive and never 0, the id of every login: 31 bits a forger has to guess.
    const auto bits = static_cast<std::int32_t>(hash(address, slot) & 0x7FFFFFFFU);
    return bits == 0 ? 1 : bits;
}

LoginCookies::Entry& LoginCookies::place_of(const SocketAddress& address,
                                            std::uint32_t which) const {
    return (*names)[static_cast<std::size_t>(hash(address, 0xFFFFFFFFU - which) % COOKIE_NAMES)];
}

LoginCookies::Entry& LoginCookies::place_to_take(const SocketAddress& address) const {
    Entry& first = place_of(address, 0);
    Entry& second = place_of(address, 1);
    if (first.address == SocketAddress{}) {
        return first;
    }
    if (second.address == SocketAddress{}) {
        return second;
    }
    // The one kept longer ago, its count compared across the wrap.
    const bool first_older = static_cast<std::int32_t>(first.kept_as - second.kept_as) < 0;
    return first_older ? first : second;
}

LoginCookies::Entry* LoginCookies::kept(const SocketAddress& address) const {
    for (std::uint32_t which = 0; which < 2; ++which) {
        Entry& entry = place_of(address, which);
        if (entry.address == address) {
            return &entry;
        }
    }
    return nullptr;
}

std::optional<std::int32_t> LoginCookies::issue(const SocketAddress& from, SessionTime now,
                                                std::string_view name, std::int32_t reserved) {
    if (!names) {
        names = std::make_unique<std::array<Entry, COOKIE_NAMES>>();
    }
    const std::uint32_t slot = slot_at(now);
    last_issued_slot = slot;
    Entry* const earlier = kept(from);
    if (earlier != nullptr && earlier->slot + 1 >= slot) {
        if (std::string_view(earlier->name.data(), earlier->size) !=
            name.substr(0, earlier->name.size())) {
            earlier->address = SocketAddress{};
            return std::nullopt;
        }
        return id_for(from, slot);
    }
    Entry& entry = earlier != nullptr ? *earlier : place_to_take(from);
    entry.address = from;
    entry.reserved = reserved;
    entry.slot = slot;
    entry.kept_as = ++logins_kept;
    entry.size = static_cast<std::uint8_t>(std::min(name.size(), entry.name.size()));
    std::copy_n(name.begin(), entry.size, entry.name.begin());
    return id_for(from, slot);
}

void LoginCookies::forget_stale(SessionTime now) {
    if (names && slot_at(now) > last_issued_slot + 1) {
        names.reset();
    }
}

bool LoginCookies::valid(std::int32_t id, const SocketAddress& from, SessionTime now) const {
    if (!keyed) {
        return false;
    }
    const std::uint32_t slot = slot_at(now);
    return id == id_for(from, slot) || (slot > 0 && id == id_for(from, slot - 1));
}

std::optional<RememberedLogin> LoginCookies::redeem(std::int32_t id, const SocketAddress& from,
                                                    SessionTime now) {
    if (!names) {
        return std::nullopt;
    }
    Entry* const entry = kept(from);
    if (entry == nullptr || !checks.take(now)) {
        return std::nullopt;
    }
    // Taken by the right id, and lost by a wrong one.
    entry->address = SocketAddress{};
    if (!valid(id, from, now)) {
        return std::nullopt;
    }
    return RememberedLogin{std::string(entry->name.data(), entry->size), entry->reserved};
}

}  // namespace tw
