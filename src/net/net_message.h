#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tw {

// Every datagram on the wire is exactly one of these records, 88 bytes, little-endian.
inline constexpr std::size_t MESSAGE_SIZE = 88;
inline constexpr std::size_t TEXT_SIZE = 64;

using WireRecord = std::array<std::uint8_t, MESSAGE_SIZE>;
using TextArea = std::array<std::uint8_t, TEXT_SIZE>;

inline constexpr std::int32_t KIND_CHAT = 101;
inline constexpr std::int32_t KIND_CHAT_RELAY = 102;
inline constexpr std::int32_t KIND_LOGIN = 103;
inline constexpr std::int32_t KIND_LOGIN_ACCEPTED = 104;
inline constexpr std::int32_t KIND_PEER_LOGGED_IN = 105;
inline constexpr std::int32_t KIND_ACK = 107;
inline constexpr std::int32_t KIND_NICK_CHANGE = 108;
inline constexpr std::int32_t KIND_NICK_NOTICE = 109;
inline constexpr std::int32_t KIND_PING = 110;
inline constexpr std::int32_t KIND_PONG = 111;
inline constexpr std::int32_t KIND_LOGOUT = 112;
inline constexpr std::int32_t KIND_PEER_LOGGED_OUT = 113;
inline constexpr std::int32_t KIND_PEER_TIMED_OUT = 114;

// A relay carries the author's name in bytes 0..13 and the line from byte 14 on,
// each zero-terminated, so at most 13 and 49 characters fit.
inline constexpr std::size_t RELAY_LINE_OFFSET = 14;
inline constexpr std::size_t RELAY_NAME_MAX = RELAY_LINE_OFFSET - 1;
inline constexpr std::size_t RELAY_LINE_MAX = TEXT_SIZE - RELAY_LINE_OFFSET - 1;

// Message ids are serial numbers that wrap from the largest to the smallest, so stepping
// one is never signed overflow.
constexpr std::int32_t id_step(std::int32_t id, std::int32_t by) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(id) +
                                     static_cast<std::uint32_t>(by));
}

struct NetMessage {
    std::int32_t id = 0;
    float resend_timer = 0.0F;
    std::uint8_t reliable = 0;
    std::int32_t reserved = 0;
    std::int32_t kind = 0;
    std::int32_t length = 0;
    TextArea text{};

    WireRecord encode() const;
    // The first 88 bytes of a datagram; nothing when it is shorter.
    static std::optional<NetMessage> decode(std::span<const std::uint8_t> datagram);

    bool operator==(const NetMessage&) const = default;
};

// The one way a text is read from a message: the bytes up to the first zero within
// the area (or the area's end), cut to `length`; empty for a `length` of 0 or less.
std::string read_text(const NetMessage& message);
// The same text as a view into the message, for the relay path, which only copies it on
// and would otherwise allocate for every line longer than a short string's inline room.
std::string_view text_view(const NetMessage& message);
// Reads a zero-terminated string starting at `offset`, never past the area.
std::string read_text_at(const TextArea& area, std::size_t offset);

// The one way a text is written: copied from `offset`, cut so that it ends before
// `offset + limit` and never past the area. Returns the number of bytes written.
std::size_t write_text_at(TextArea& area, std::size_t offset, std::size_t limit,
                          std::string_view text);
// Sets `text` (cut to the 64-byte area) and sets `length` to what was written.
void set_text(NetMessage& message, std::string_view text);

// Four bytes of an int or float at the start of the text area (acks, pings).
void put_i32(TextArea& area, std::int32_t value);
std::int32_t get_i32(const TextArea& area);
void put_f32(TextArea& area, float value);
float get_f32(const TextArea& area);

}  // namespace tw
