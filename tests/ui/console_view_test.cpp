#include "ui/console_view.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
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
constexpr Rgb GREY{150, 150, 150};

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

TEST_F(ConsoleViewTest, EmptyLineAndEmptyLogDrawOnlyTheRedPromptAndItsCaret) {
    draw("");
    EXPECT_EQ(surface.texts, (std::vector<DrawnText>{{15, 15, RED, "> "}}));
    EXPECT_EQ(surface.rects, (std::vector<test::FilledRect>{{27, 16, 1, 13, RED}}));
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

TEST_F(ConsoleViewTest, RowsWiderThanTheWindowGoOnInTheRowsUnderThem) {
    log.add_line("Could not serve: UDP port 1210 is in use", LineStyle::notice);
    log.add_line("<bo> " + std::string(50, 'w'), LineStyle::peer_chat);
    draw("");
    // 235 pixels of room: broken after the last blank that fits, or inside a long word.
    const std::vector<DrawnText> expected{{15, 15, RED, "> "},
                                          {15, 30, OLIVE, " -- Could not serve: UDP port 1210 is "},
                                          {15, 45, OLIVE, "in use"},
                                          {15, 60, BLUE, "<bo> "},
                                          {15, 75, BLUE, std::string(39, 'w')},
                                          {15, 90, BLUE, std::string(11, 'w')}};
    EXPECT_EQ(surface.texts, expected);
    // Drawn whole, a row this long overflows the text layer's 16-bit widths and vanishes;
    // the log's five rows show the newest pieces.
    log.add_line(std::string(5000, 'n'), LineStyle::notice);
    surface.clear();
    draw("");
    ASSERT_EQ(surface.texts.size(), 6U);
    EXPECT_EQ(surface.texts[5].text, std::string(5000 - 35 - 39 * 127, 'n'));
}

TEST_F(ConsoleViewTest, ALongPromptKeepsItsMarkerAndShowsThePartAroundItsCaret) {
    draw("start" + std::string(20000, 'w') + "end");
    // "> " (12 px), the grey mark (6 px), then what fits before the caret at the edge.
    const std::vector<DrawnText> expected{
        {15, 15, RED, "> "}, {27, 15, GREY, "\xab"}, {33, 15, RED, std::string(33, 'w') + "end"}};
    EXPECT_EQ(surface.texts, expected);
    EXPECT_EQ(surface.rects, (std::vector<test::FilledRect>{{249, 16, 1, 13, RED}}));
    surface.clear();
    draw(std::string(35, 'x'));
    EXPECT_EQ(surface.texts, (std::vector<DrawnText>{{15, 15, RED, "> " + std::string(35, 'x')}}));
    // The view follows the caret: the start while the caret is in it, elsewhere the caret
    // in the middle of what shows.
    const std::string line = "start" + std::string(20000, 'w') + "end";
    for (const auto& [cursor, text, caret_x] :
         {std::tuple{std::size_t{10}, "> start" + std::string(32, 'w'), 87},
          std::tuple{std::size_t{10000}, std::string(36, 'w'), 141}}) {
        surface.clear();
        draw_console(surface, WIDTH, console_rows(line, log, {}, cursor));
        EXPECT_EQ(surface.texts.back().text, text);
        EXPECT_EQ(surface.rects.back().x, caret_x);
    }
}

TEST_F(ConsoleViewTest, GlyphsThatDrawNothingStillCannotMakeARowUnbounded) {
    ZeroWidthSurface blank;
    draw_console(blank, WIDTH, console_rows(std::string(100000, '\x01'), log));
    ASSERT_EQ(blank.texts.size(), 3U);
    EXPECT_EQ(blank.texts[2].text.size(), MAX_ROW_BYTES);
}

TEST_F(ConsoleViewTest, ATallerViewShowsMoreHistoryAndAScrolledOneItsMark) {
    for (int line = 0; line < 1200; ++line) {
        log.add_line(std::to_string(line), LineStyle::peer_chat);
    }
    ScrollBack back;
    const LogLayout eight = log_layout(surface, log_row_room(WIDTH), 8);
    EXPECT_EQ(console_rows("", log, back.page(log, eight)).rows.size(), 9U);
    back.scroll(2000, log, eight);
    log.add_line("new", LineStyle::notice);
    draw_console(surface, WIDTH, console_rows("", log, back.page(log, eight)));
    // The oldest page of the 1,000 kept lines, even after the arrival pushed one out.
    EXPECT_EQ(surface.texts[1].text, "201");
    EXPECT_EQ(surface.texts[8].text, "208");
    EXPECT_EQ(surface.texts[9], (DrawnText{15, 150, GREY, "-- 992 rows below, 1 new --"}));
    back.scroll(-990, log, eight);
    EXPECT_EQ(console_rows("", log, back.page(log, eight)).rows[8].text, "1198");
    back.scroll(-10, log, eight);
    EXPECT_TRUE(back.at_newest());
    EXPECT_FALSE(console_rows("", log, back.page(log, eight)).scrolled);
}

TEST_F(ConsoleViewTest, ScrollingAndItsMarkCountTheRowsAWrappedLineTakes) {
    // Rows: three of a's, 1, 2, 3, three of b's; the newest five are 2, 3 and the b's.
    log.add_line(std::string(100, 'a'), LineStyle::peer_chat);
    for (const char* text : {"1", "2", "3"}) {
        log.add_line(text, LineStyle::peer_chat);
    }
    log.add_line(std::string(100, 'b'), LineStyle::peer_chat);
    const LogLayout five = log_layout(surface, log_row_room(WIDTH), 5);
    ScrollBack back;
    const auto shown = [&] {
        surface.clear();
        draw_console(surface, WIDTH, console_rows("", log, back.page(log, five)));
        return std::vector<std::string>{surface.texts[1].text, surface.texts.back().text};
    };
    back.scroll(1, log, five);
    EXPECT_EQ(shown(), (std::vector<std::string>{"1", "-- 1 row below --"}));
    // A page up from there reaches the oldest page: the wrapped oldest line from its start.
    back.scroll(4, log, five);
    EXPECT_EQ(shown(), (std::vector<std::string>{std::string(39, 'a'), "-- 4 rows below --"}));
    back.scroll(-5, log, five);
    EXPECT_TRUE(back.at_newest());
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
    ASSERT_EQ(surface.rects.size(), 2U);
    EXPECT_EQ(surface.rects[1], (test::FilledRect{1, 22, 3, 4, OLIVE}));
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
