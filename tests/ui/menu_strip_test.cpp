#include "ui/menu_strip.h"

#include <gtest/gtest.h>

#include "recording_surface.h"

namespace tw {
namespace {

constexpr int ENTER = 13;
constexpr int ESCAPE = 27;
constexpr int KEY_A = 65;
constexpr int KEY_F = 70;
constexpr int KEY_X = 88;
constexpr int F10 = 121;

const MenuOutcome PASSED_ON{false, std::nullopt};
const MenuOutcome SWALLOWED{true, std::nullopt};
const MenuOutcome EXIT_CHOSEN{true, 105};

class MenuStripTest : public ::testing::Test {
  protected:
    void open_with_keys() {
        ASSERT_EQ(menu.on_key(KEY_F, true, true), SWALLOWED);
        ASSERT_TRUE(menu.is_open());
    }

    MenuStrip menu;
};

TEST_F(MenuStripTest, StartsClosed) {
    EXPECT_FALSE(menu.is_open());
}

TEST_F(MenuStripTest, PlainKeysGoToTheConsoleWhileClosed) {
    EXPECT_EQ(menu.on_key(KEY_F, true, false), PASSED_ON);
    EXPECT_EQ(menu.on_key(KEY_X, true, false), PASSED_ON);
    EXPECT_EQ(menu.on_key(ENTER, true, false), PASSED_ON);
    EXPECT_EQ(menu.on_key(ESCAPE, true, false), PASSED_ON);
    EXPECT_EQ(menu.on_key(KEY_X, false, false), PASSED_ON);
    EXPECT_FALSE(menu.is_open());
}

TEST_F(MenuStripTest, AltFOpensTheMenu) {
    open_with_keys();
}

TEST_F(MenuStripTest, KeysHeldWithAltNeverReachTheConsole) {
    EXPECT_EQ(menu.on_key(KEY_A, true, true), SWALLOWED);
    EXPECT_EQ(menu.on_key(KEY_X, true, true), SWALLOWED);
    EXPECT_EQ(menu.on_key(KEY_F, false, true), SWALLOWED);
    EXPECT_FALSE(menu.is_open());
}

TEST_F(MenuStripTest, XInTheOpenMenuChoosesExit) {
    open_with_keys();
    EXPECT_EQ(menu.on_key(KEY_X, true, false), EXIT_CHOSEN);
    EXPECT_FALSE(menu.is_open());
}

TEST_F(MenuStripTest, EnterInTheOpenMenuChoosesExit) {
    open_with_keys();
    EXPECT_EQ(menu.on_key(ENTER, true, false), EXIT_CHOSEN);
}

TEST_F(MenuStripTest, EscapeClosesWithoutACommand) {
    open_with_keys();
    EXPECT_EQ(menu.on_key(ESCAPE, true, false), SWALLOWED);
    EXPECT_FALSE(menu.is_open());
    EXPECT_EQ(menu.on_key(KEY_X, true, false), PASSED_ON);
}

TEST_F(MenuStripTest, F10OpensAndClosesTheMenu) {
    EXPECT_EQ(menu.on_key(F10, true, false), SWALLOWED);
    EXPECT_TRUE(menu.is_open());
    EXPECT_EQ(menu.on_key(F10, false, false), SWALLOWED);
    EXPECT_TRUE(menu.is_open());
    EXPECT_EQ(menu.on_key(F10, true, false), SWALLOWED);
    EXPECT_FALSE(menu.is_open());
    EXPECT_EQ(menu.on_key(F10, false, false), SWALLOWED);
    EXPECT_FALSE(menu.is_open());
}

TEST_F(MenuStripTest, OtherKeysAndReleasesAreSwallowedWhileOpen) {
    open_with_keys();
    EXPECT_EQ(menu.on_key(KEY_F, false, true), SWALLOWED);
    EXPECT_EQ(menu.on_key(KEY_A, true, false), SWALLOWED);
    EXPECT_EQ(menu.on_key(KEY_X, false, false), SWALLOWED);
    EXPECT_EQ(menu.on_key(ENTER, false, false), SWALLOWED);
    EXPECT_TRUE(menu.is_open());
}

TEST_F(MenuStripTest, ClickOnFileOpensAndClickOnExitChoosesIt) {
    EXPECT_EQ(menu.on_click(10, 10), SWALLOWED);
    EXPECT_TRUE(menu.is_open());
    EXPECT_EQ(menu.on_click(20, 30), EXIT_CHOSEN);
    EXPECT_FALSE(menu.is_open());
}

TEST_F(MenuStripTest, ClickElsewhereClosesTheOpenMenu) {
    open_with_keys();
    EXPECT_EQ(menu.on_click(200, 150), SWALLOWED);
    EXPECT_FALSE(menu.is_open());
}

TEST_F(MenuStripTest, ClickOnFileAgainClosesIt) {
    open_with_keys();
    EXPECT_EQ(menu.on_click(5, 5), SWALLOWED);
    EXPECT_FALSE(menu.is_open());
}

TEST_F(MenuStripTest, ClicksOutsideTheTitleDoNothingWhileClosed) {
    EXPECT_EQ(menu.on_click(20, 30), PASSED_ON);
    EXPECT_EQ(menu.on_click(100, 5), PASSED_ON);
    EXPECT_FALSE(menu.is_open());
}

TEST_F(MenuStripTest, BoxesIncludeTheirTopLeftAndExcludeTheirFarEdges) {
    EXPECT_TRUE(FILE_TITLE_BOX.contains(0, 0));
    EXPECT_FALSE(FILE_TITLE_BOX.contains(FILE_TITLE_BOX.width, 0));
    EXPECT_FALSE(FILE_TITLE_BOX.contains(0, MENU_STRIP_HEIGHT));
    EXPECT_FALSE(FILE_TITLE_BOX.contains(-1, 5));
}

class MenuStripDrawingTest : public ::testing::Test {
  protected:
    static bool is_grey(Rgb colour) { return colour.r == colour.g && colour.g == colour.b; }

    void expect_only_greys() const {
        for (const auto& text : surface.texts) {
            EXPECT_TRUE(is_grey(text.colour)) << text.text;
        }
        for (const auto& rect : surface.rects) {
            EXPECT_TRUE(is_grey(rect.colour)) << rect.x << "," << rect.y;
        }
    }

    MenuStrip menu;
    test::RecordingSurface surface;
};

TEST_F(MenuStripDrawingTest, ClosedStripSpansTheWidthAndNamesFile) {
    menu.draw(surface, 321);
    ASSERT_FALSE(surface.rects.empty());
    EXPECT_EQ(surface.rects[0], (test::FilledRect{0, 0, 321, MENU_STRIP_HEIGHT, STRIP_BACKGROUND}));
    ASSERT_EQ(surface.texts.size(), 1U);
    EXPECT_EQ(surface.texts[0].text, "File");
    EXPECT_TRUE(FILE_TITLE_BOX.contains(surface.texts[0].x, surface.texts[0].y));
    expect_only_greys();
}

TEST_F(MenuStripDrawingTest, OpenMenuShowsExitInsideItsClickableBox) {
    menu.on_key(KEY_F, true, true);
    menu.draw(surface, 250);
    ASSERT_EQ(surface.texts.size(), 2U);
    EXPECT_EQ(surface.texts[1].text, "Exit");
    EXPECT_TRUE(EXIT_ITEM_BOX.contains(surface.texts[1].x, surface.texts[1].y));
    expect_only_greys();
}

TEST_F(MenuStripDrawingTest, StripNeverReachesIntoTheConsole) {
    menu.draw(surface, 250);
    for (const auto& rect : surface.rects) {
        EXPECT_LE(rect.y + rect.height, MENU_STRIP_HEIGHT);
    }
}

}  // namespace
}  // namespace tw
