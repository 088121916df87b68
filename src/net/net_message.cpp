#include "net/net_message.h"

#include <algorithm>
#include <bit>

namespace tw {

namespace {

constexpr std::size_t OFFSET_ID = 0;
constexpr std::size_t OFFSET_RESEND = 4;
constexpr std::size_t OFFSET_RELIABLE = 8;
constexpr std::size_t OFFSET_RESERVED = 12;
constexpr std::size_t OFFSET_KIND = 16;
constexpr std::size_t OFFSET_LENGTH = 20;
constexpr std::size_t OFFSET_TEXT = 24;

void store_u32(std::span<std::uint8_t> out, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        out[offset + i] = static_cast<std::uint8_t>(value >> (8U * i));
    }
}

std::uint32_t load_u32(std::span<const std::uint8_t> in, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= std::uint32_t{in[offset + i]} << (8U * i);
    }
    return value;
}

void store_i32(std::span<std::uint8_t> out, std::size_t offset, std::int32_t value) {
    store_u32(out, offset, std::bit_cast<std::uint32_t>(value));
}

std::int32_t load_i32(std::span<const std::uint8_t> in, std::size_t offset) {
    return std::bit_cast<std::int32_t>(load_u32(in, offset));
}

}  // namespace

WireRecord NetMessage::encode() const {
    WireRecord out{};
    store_i32(out, OFFSET_ID, id);
    store_u32(out, OFFSET_RESEND, std::bit_cast<std::uint32_t>(resend_timer));
    out[OFFSET_RELIABLE] = reliable;
    store_i32(out, OFFSET_RESERVED, reserved);
    store_i32(out, OFFSET_KIND, kind);
    store_i32(out, OFFSET_LENGTH, length);
    std::copy(text.begin(), text.end(), out.begin() + OFFSET_TEXT);
    return out;
}

std::optional<NetMessage> NetMessage::decode(std::span<const std::uint8_t> datagram) {
    if (datagram.size() < MESSAGE_SIZE) {
        return std::nullopt;
    }
    NetMessage message;
    message.id = load_i32(datagram, OFFSET_ID);
    message.resend_timer = std::bit_cast<float>(load_u32(datagram, OFFSET_RESEND));
    message.reliable = datagram[OFFSET_RELIABLE];
    message.reserved = load_i32(datagram, OFFSET_RESERVED);
    message.kind = load_i32(datagram, OFFSET_KIND);
    message.length = load_i32(datagram, OFFSET_LENGTH);
    std::copy_n(datagram.begin() + OFFSET_TEXT, TEXT_SIZE, message.text.begin());
    return message;
}

std::string read_text_at(const TextArea& area, std::size_t offset) {
    if (offset >= area.size()) {
        return {};
    }
    const auto begin = area.begin() + static_cast<std::ptrdiff_t>(offset);
    const auto end = std::find(begin, area.end(), std::uint8_t{0});
    return std::string(begin, end);
}

std::string_view text_view(const NetMessage& message) {
    if (message.length <= 0) {
        return {};
    }
    const auto end = std::find(message.text.begin(), message.text.end(), std::uint8_t{0});
    const auto found = static_cast<std::size_t>(end - message.text.begin());
    // The text area is bytes; a char view of them is allowed by the aliasing rules.
    return std::string_view(reinterpret_cast<const char*>(message.text.data()),
                            std::min(found, static_cast<std::size_t>(message.length)));
}

std::string read_text(const NetMessage& message) {
    return std::string(text_view(message));
}

std::size_t write_text_at(TextArea& area, std::size_t offset, std::size_t limit,
                          std::string_view text) {
    if (offset >= area.size()) {
        return 0;
    }
    const std::size_t room = std::min(limit, area.size() - offset);
    const std::size_t count = std::min(text.size(), room);
    std::copy_n(text.begin(), count, area.begin() + static_cast<std::ptrdiff_t>(offset));
    return count;
}

void set_text(NetMessage& message, std::string_view text) {
    const std::size_t written = write_text_at(message.text, 0, TEXT_SIZE, text);
    message.length = static_cast<std::int32_t>(written);
}

void put_i32(TextArea& area, std::int32_t value) {
    store_i32(area, 0, value);
}

std::int32_t get_i32(const TextArea& area) {
    return load_i32(area, 0);
}

void put_f32(TextArea& area, float value) {
    store_u32(area, 0, std::bit_cast<std::uint32_t>(value));
}

float get_f32(const TextArea& area) {
    return std::bit_cast<float>(load_u32(area, 0));
}

}  // namespace tw
