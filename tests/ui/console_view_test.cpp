#include "ui/console_view.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording_surface.h"

namespace tw {
namespace {

using test::DrawnText;
using test::RecordingSurface;

constexpr Rgb RED{255, 0, 0};
constexpr Rgb CYAN{0, 200, 255};
constexpr Rgb OLIVE{100, 100, 55};
constexpr Rgb BLUE{0, 0, 255};

// A font in which every byte advances the pen by nothing at all.
class ZeroWidthSurface final : public TextSurface {
  public:
    void draw_text(int x, int y, Rgb colour, std::string_view text) override {
        texts.push_back(DrawnText{x, y, colour, std::string{text}});
    }
    void fill_rect(int, int, int, int, Rgb) override {}
    int advance(unsigned char) override { return 0; }

    std::vector<DrawnText> texts;
};

class ConsoleViewTest : public ::testing::Test {
  protected:
    void draw(const std::string& input_line) {
        draw_console(surface, WIDTH, console_rows(input_line, log));
    }

    static constexpr int WIDTH = 250;

    RecordingSurface surface;
    ChatLog log;
};

TEST_F(ConsoleViewTest, EmptyLineAndEmptyLogDrawOnlyTheRedPrompt) {
    draw("");
    EXPECT_EQ(surface.texts, (std::vector<DrawnText>{{15, 15, RED, "> "}}));
    EXPECT_TRUE(surface.rects.empty());
}

TEST_F(ConsoleViewTest, PromptShowsTheInputLineAfterItsMarker) {
    draw("nick alice");
    ASSERT_EQ(surface.texts.size(), 1U);
    EXPECT_EQ(surface.texts[0], (DrawnText{15, 15, RED, "> nick alice"}));
}

TEST_F(ConsoleViewTest, NoticeIsDrawnWithItsPrefixInOlive) {
    log.add_line("Server Started", LineStyle::notice);
    draw("");
    ASSERT_EQ(surface.texts.size(), 2U);
    EXPECT_EQ(surface.texts[1], (DrawnText{15, 30, OLIVE, " -- Server Started"}));
}

TEST_F(ConsoleViewTest, OwnChatIsDrawnUnchangedInCyan) {
    log.add_line(" <bob> hello", LineStyle::own_chat);
    draw("");
    ASSERT_EQ(surface.texts.size(), 2U);
    EXPECT_EQ(surface.texts[1], (DrawnText{15, 30, CYAN, " <bob> hello"}));
}

TEST_F(ConsoleViewTest, PeerChatIsDrawnUnchangedInBlue) {
    log.add_line("<ann> hi", LineStyle::peer_chat);
    draw("");
    ASSERT_EQ(surface.texts.size(), 2U);
    EXPECT_EQ(surface.texts[1], (DrawnText{15, 30, BLUE, "<ann> hi"}));
}

TEST_F(ConsoleViewTest, PromptComesFirstThenLogOldestFirstEveryFifteenPixels) {
    log.add_line("one", LineStyle::notice);
    log.add_line(" <me> two", LineStyle::own_chat);
    log.add_line("<you> three", LineStyle::peer_chat);
    log.add_line("four", LineStyle::notice);
    log.add_line("<you> five", LineStyle::peer_chat);
    draw("typing");
    const std::vector<DrawnText> expected{
        {15, 15, RED, "> typing"},     {15, 30, OLIVE, " -- one"},  {15, 45, CYAN, " <me> two"},
        {15, 60, BLUE, "<you> three"}, {15, 75, OLIVE, " -- four"}, {15, 90, BLUE, "<you> five"},
    };
    EXPECT_EQ(surface.texts, expected);
}

TEST_F(ConsoleViewTest, AFullLogNeverDrawsBelowTheFifthRow) {
    for (const char* text : {"1", "2", "3", "4", "5", "6", "7"}) {
        log.add_line(text, LineStyle::peer_chat);
    }
    draw("");
    ASSERT_EQ(surface.texts.size(), 6U);
    EXPECT_EQ(surface.texts[1].text, "3");
    EXPECT_EQ(surface.texts.back(), (DrawnText{15, 90, BLUE, "7"}));
}

TEST_F(ConsoleViewTest, EmptyNoticeStillTakesItsRowWithThePrefix) {
    log.add_line("", LineStyle::notice);
    log.add_line("after", LineStyle::peer_chat);
    draw("");
    ASSERT_EQ(surface.texts.size(), 3U);
    EXPECT_EQ(surface.texts[1], (DrawnText{15, 30, OLIVE, " -- "}));
    EXPECT_EQ(surface.texts[2].y, 45);
}

TEST_F(ConsoleViewTest, LongRowsAreCutJustPastTheWindowsRightEdge) {
    // Drawn whole, a row this long overflows the text layer's 16-bit widths and vanishes.
    const std::string typed = "ab" + std::string(20000, 'w');
    log.add_line(std::string(5000, 'n'), LineStyle::notice);
    draw(typed);
    ASSERT_EQ(surface.texts.size(), 2U);
    // (250 - 15) / 6 rounded up: the last glyph is cut by the edge, not left out.
    constexpr std::size_t FITTING = 40;
    EXPECT_EQ(surface.texts[0].text, ("> " + typed).substr(0, FITTING));
    EXPECT_EQ(surface.texts[1].text, " -- " + std::string(FITTING - 4, 'n'));
}

TEST_F(ConsoleViewTest, GlyphsThatDrawNothingStillCannotMakeARowUnbounded) {
    ZeroWidthSurface blank;
    draw_console(blank, WIDTH, console_rows(std::string(100000, '\x01'), log));
    ASSERT_EQ(blank.texts.size(), 1U);
    EXPECT_EQ(blank.texts[0].text.size(), MAX_ROW_BYTES);
}

TEST_F(ConsoleViewTest, BytesOutsideAsciiReachTheSurfaceUnconverted) {
    const std::string latin1{"caf\xe9"};
    log.add_line(latin1, LineStyle::peer_chat);
    draw(latin1);
    EXPECT_EQ(surface.texts[0].text, "> " + latin1);
    EXPECT_EQ(surface.texts[1].text, latin1);
}

TEST_F(ConsoleViewTest, OffsetSurfaceMovesTheWholeConsoleUnderTheMenuStrip) {
    OffsetSurface console{surface, 0, 20};
    log.add_line("x", LineStyle::notice);
    draw_console(console, WIDTH, console_rows("", log));
    console.fill_rect(1, 2, 3, 4, OLIVE);
    ASSERT_EQ(surface.texts.size(), 2U);
    EXPECT_EQ(surface.texts[0].y, 35);
    EXPECT_EQ(surface.texts[1].y, 50);
    EXPECT_EQ(surface.texts[1].x, 15);
    ASSERT_EQ(surface.rects.size(), 1U);
    EXPECT_EQ(surface.rects[0], (test::FilledRect{1, 22, 3, 4, OLIVE}));
}

class LineStyleTest : public ::testing::Test {};

TEST_F(LineStyleTest, EachStyleHasItsOwnColour) {
    EXPECT_EQ(line_colour(LineStyle::own_chat), CYAN);
    EXPECT_EQ(line_colour(LineStyle::notice), OLIVE);
    EXPECT_EQ(line_colour(LineStyle::peer_chat), BLUE);
}

TEST_F(LineStyleTest, OnlyNoticesGetAPrefix) {
    EXPECT_EQ(line_text(LogLine{LineStyle::notice, "n"}), " -- n");
    EXPECT_EQ(line_text(LogLine{LineStyle::own_chat, "o"}), "o");
    EXPECT_EQ(line_text(LogLine{LineStyle::peer_chat, "p"}), "p");
}

TEST_F(LineStyleTest, AStyleOutsideTheThreeIsStillDrawnAndNeverRed) {
    const auto stray = static_cast<LineStyle>(7);
    EXPECT_NE(line_colour(stray), RED);
    EXPECT_EQ(line_text(LogLine{stray, "t"}), "t");
}

}  // namespace
}  // namespace tw
