#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST(ChatLog, ListenerSeesEveryLineAlsoThosePushedOut) {
    ChatLog log;
    std::vector<LogLine> heard;
    log.set_listener([&heard](const LogLine& line) { heard.push_back(line); });
    for (int i = 0; i < 7; ++i) {
        log.add_line(std::to_string(i), LineStyle::notice);
    }
    ASSERT_EQ(heard.size(), 7U);
    EXPECT_EQ(heard[0], (LogLine{LineStyle::notice, "0"}));
    log.set_listener(nullptr);
    log.add_line("quiet", LineStyle::own_chat);
    EXPECT_EQ(heard.size(), 7U);
}

}  // namespace
}  // namespace tw
