#include <gtest/gtest.h>

#include "chat/chat_log.h"

namespace tw {
namespace {

TEST(ChatLog, KeepsTheNewestFiveInOrder) {
    ChatLog log;
    for (int i = 1; i <= 5; ++i) {
        log.add_line(std::to_string(i), LineStyle::notice);
    }
    ASSERT_EQ(log.size(), 5U);
    EXPECT_EQ(log.line(0).text, "1");
    log.add_line("6", LineStyle::peer_chat);
    ASSERT_EQ(log.size(), 5U);
    EXPECT_EQ(log.line(0).text, "2");
    EXPECT_EQ(log.line(4).text, "6");
    EXPECT_EQ(log.line(4).style, LineStyle::peer_chat);
    EXPECT_EQ(log.added_count(), 6U);
}

TEST(ChatLog, StoresTextsExactlyAsGiven) {
    ChatLog log;
    log.add_line("", LineStyle::own_chat);
    log.add_line("Server Started", LineStyle::notice);
    const std::string wide(500, 'w');
    log.add_line(wide, LineStyle::peer_chat);
    ASSERT_EQ(log.size(), 3U);
    EXPECT_EQ(log.line(0), (LogLine{LineStyle::own_chat, ""}));
    EXPECT_EQ(log.line(1).text, "Server Started");
    EXPECT_EQ(log.line(2).text, wide);
}

}  // namespace
}  // namespace tw
