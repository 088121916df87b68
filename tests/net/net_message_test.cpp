#include <gtest/gtest.h>

#include <bit>
#include <string>

#include "net/net_message.h"

namespace tw {
namespace {

TEST(NetMessageLayout, FieldsSitAtTheirOffsetsLittleEndian) {
    NetMessage message;
    message.id = 0x01020304;
    message.resend_timer = 2.0F;
    message.reliable = 1;
    message.reserved = -2;
    message.kind = KIND_PEER_TIMED_OUT;
    message.length = 3;
    set_text(message, "abc");
    const WireRecord bytes = message.encode();

    ASSERT_EQ(bytes.size(), 88U);
    EXPECT_EQ(bytes[0], 0x04);
    EXPECT_EQ(bytes[3], 0x01);
    const auto two = std::bit_cast<std::uint32_t>(2.0F);
    EXPECT_EQ(bytes[4], static_cast<std::uint8_t>(two));
    EXPECT_EQ(bytes[7], static_cast<std::uint8_t>(two >> 24U));
    EXPECT_EQ(bytes[8], 1);
    EXPECT_EQ(bytes[9], 0);
    EXPECT_EQ(bytes[10], 0);
    EXPECT_EQ(bytes[11], 0);
    EXPECT_EQ(bytes[12], 0xFE);
    EXPECT_EQ(bytes[15], 0xFF);
    EXPECT_EQ(bytes[16], 114);
    EXPECT_EQ(bytes[17], 0);
    EXPECT_EQ(bytes[20], 3);
    EXPECT_EQ(bytes[24], 'a');
    EXPECT_EQ(bytes[26], 'c');
    EXPECT_EQ(bytes[27], 0);
}

TEST(NetMessageLayout, DecodeReadsBackWhatEncodeWrote) {
    NetMessage message;
    message.id = -7;
    message.resend_timer = -0.5F;
    message.reliable = 1;
    message.reserved = 99;
    message.kind = KIND_CHAT;
    set_text(message, "hello world");
    const auto back = NetMessage::decode(message.encode());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, message);
}

TEST(NetMessageLayout, DecodeNeedsEightyEightBytesAndIgnoresTheRest) {
    std::array<std::uint8_t, 100> long_datagram{};
    long_datagram[16] = 101;
    long_datagram[90] = 0xAA;
    EXPECT_FALSE(NetMessage::decode(std::span(long_datagram).first(87)).has_value());
    const auto decoded = NetMessage::decode(long_datagram);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->kind, 101);
}

TEST(NetMessageLayout, AcknowledgementCarriesTheIdInItsFirstTextBytes) {
    NetMessage ack;
    ack.kind = KIND_ACK;
    ack.length = 1;
    put_i32(ack.text, 10);
    const WireRecord bytes = ack.encode();
    EXPECT_EQ(bytes[8], 0);
    EXPECT_EQ(bytes[24], 0x0A);
    EXPECT_EQ(bytes[25], 0x00);
    EXPECT_EQ(bytes[26], 0x00);
    EXPECT_EQ(bytes[27], 0x00);
    EXPECT_EQ(get_i32(ack.text), 10);
}

TEST(NetMessageLayout, PingClockIsTheIeeeSingleEncoding) {
    NetMessage ping;
    put_f32(ping.text, 12.5F);
    const auto bits = std::bit_cast<std::uint32_t>(12.5F);
    EXPECT_EQ(ping.text[0], static_cast<std::uint8_t>(bits));
    EXPECT_EQ(ping.text[3], static_cast<std::uint8_t>(bits >> 24U));
    EXPECT_EQ(get_f32(ping.text), 12.5F);
}

TEST(MessageText, ReadStopsAtZeroAndIsCutToLength) {
    NetMessage message;
    set_text(message, "hello world");
    message.length = 5;
    EXPECT_EQ(read_text(message), "hello");
    message.length = 60;
    EXPECT_EQ(read_text(message), "hello world");
}

TEST(MessageText, NonPositiveLengthReadsNothing) {
    NetMessage message;
    set_text(message, "hello");
    message.length = 0;
    EXPECT_EQ(read_text(message), "");
    message.length = -1;
    EXPECT_EQ(read_text(message), "");
    message.length = INT32_MIN;
    EXPECT_EQ(read_text(message), "");
}

TEST(MessageText, FullAreaHasNoTerminatorAndLengthEndsIt) {
    const std::string sixty_four(64, 'x');
    NetMessage message;
    set_text(message, sixty_four);
    EXPECT_EQ(message.length, 64);
    EXPECT_EQ(message.text[63], 'x');
    EXPECT_EQ(read_text(message), sixty_four);
    message.length = 1000;
    EXPECT_EQ(read_text(message), sixty_four);
}

TEST(MessageText, WritingNeverPassesTheArea) {
    NetMessage message;
    set_text(message, std::string(200, 'y'));
    EXPECT_EQ(message.length, 64);
    TextArea area{};
    EXPECT_EQ(write_text_at(area, 60, 49, "abcdefgh"), 4U);
    EXPECT_EQ(write_text_at(area, 64, 10, "abc"), 0U);
    EXPECT_EQ(read_text_at(area, 60), "abcd");
    EXPECT_EQ(read_text_at(area, 64), "");
}

TEST(MessageText, RelaySlotsKeepTheirTerminators) {
    TextArea area{};
    write_text_at(area, 0, RELAY_NAME_MAX, "alice");
    write_text_at(area, RELAY_LINE_OFFSET, RELAY_LINE_MAX, "hi");
    for (std::size_t i = 5; i < 14; ++i) {
        EXPECT_EQ(area[i], 0) << "byte " << i;
    }
    EXPECT_EQ(read_text_at(area, 0), "alice");
    EXPECT_EQ(read_text_at(area, RELAY_LINE_OFFSET), "hi");

    TextArea full{};
    EXPECT_EQ(write_text_at(full, 0, RELAY_NAME_MAX, std::string(30, 'n')), 13U);
    EXPECT_EQ(write_text_at(full, RELAY_LINE_OFFSET, RELAY_LINE_MAX, std::string(80, 'l')), 49U);
    EXPECT_EQ(full[13], 0);
    EXPECT_EQ(full[63], 0);
}

}  // namespace
}  // namespace tw
