#include "ui/key_input.h"

#include "ui/console_view.h"
#include "ui/latin1_text.h"
#include "ui/line_editor.h"
#include "ui/virtual_key.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace tw {
namespace {

constexpr int BACKSPACE = 8;
constexpr int ENTER = 13;
constexpr int CAPS_LOCK = 20;
constexpr int SPACE = 32;

class KeyInputTest : public ::testing::Test {
  protected:
    void press(int code, bool shift = false, bool ctrl = false) {
        editor.key(KeyEvent{code, true, shift, false, false, ctrl}, line, execute);
    }
    void release(int code, bool shift = false) {
        editor.key(KeyEvent{code, false, shift, false}, line, execute);
    }
    // A line typed before, with the cursor at its end.
    void set_line(const std::string& text) {
        line.clear();
        editor.insert(text, line);
    }
    void press_all(const std::vector<int>& codes, bool shift) {
        for (const int code : codes) {
            press(code, shift);
        }
    }

    LineEditor editor;
    std::string line;
    std::vector<std::string> executed;
    LineHandler execute = [this](std::string handed) { executed.push_back(std::move(handed)); };
};

std::vector<int> code_range(int first, int last) {
    std::vector<int> codes;
    for (int code = first; code <= last; ++code) {
        codes.push_back(code);
    }
    return codes;
}

const std::vector<int> PUNCTUATION_CODES{186, 187, 188, 189, 190, 191, 192, 219, 220, 221, 222};

TEST_F(KeyInputTest, LetterKeysWithoutShiftAreLowerCase) {
    press_all(code_range(65, 90), false);
    EXPECT_EQ(line, "abcdefghijklmnopqrstuvwxyz");
}

TEST_F(KeyInputTest, LetterKeysWithShiftAreUpperCase) {
    press_all(code_range(65, 90), true);
    EXPECT_EQ(line, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
}

TEST_F(KeyInputTest, ShiftHThenIThenShiftOneGivesHiBang) {
    press(72, true);
    press(73, false);
    press(49, true);
    EXPECT_EQ(line, "Hi!");
}

TEST_F(KeyInputTest, DigitRowWithoutShift) {
    press_all(code_range(48, 57), false);
    EXPECT_EQ(line, "0123456789");
}

TEST_F(KeyInputTest, DigitRowWithShiftGivesTheUsSymbols) {
    press_all(code_range(48, 57), true);
    EXPECT_EQ(line, ")!@#$%^&*(");
}

TEST_F(KeyInputTest, PunctuationKeysWithoutShift) {
    press_all(PUNCTUATION_CODES, false);
    EXPECT_EQ(line, ";=,-./`[\\]'");
}

TEST_F(KeyInputTest, PunctuationKeysWithShift) {
    press_all(PUNCTUATION_CODES, true);
    EXPECT_EQ(line, ":+<_>?~{|}\"");
}

TEST_F(KeyInputTest, SpaceIsOneBlankWithOrWithoutShift) {
    press(SPACE, false);
    press(SPACE, true);
    EXPECT_EQ(line, "  ");
}

TEST_F(KeyInputTest, CharactersAppendAfterWhatIsThere) {
    set_line("nick");
    press(SPACE);
    press(66);
    EXPECT_EQ(line, "nick b");
}

TEST_F(KeyInputTest, BackspaceOnEmptyLineLeavesItEmpty) {
    press(BACKSPACE);
    press(BACKSPACE, true);
    EXPECT_EQ(line, "");
    EXPECT_TRUE(executed.empty());
}

TEST_F(KeyInputTest, BackspaceRemovesOnlyTheLastCharacter) {
    set_line("ab");
    press(BACKSPACE);
    EXPECT_EQ(line, "a");
    press(BACKSPACE, true);
    EXPECT_EQ(line, "");
}

TEST_F(KeyInputTest, EnterOnEmptyLineCallsNobody) {
    press(ENTER);
    press(ENTER, true);
    EXPECT_TRUE(executed.empty());
}

TEST_F(KeyInputTest, EnterHandsTheLineOverOnce) {
    set_line("serve");
    press(ENTER);
    EXPECT_EQ(executed, (std::vector<std::string>{"serve"}));
}

TEST_F(KeyInputTest, EnterLeavesEmptyingTheLineToTheInterpreter) {
    set_line("hello");
    press(ENTER);
    EXPECT_EQ(line, "hello");
}

TEST_F(KeyInputTest, TheInterpreterMayEmptyTheLineItWasHandedACopyOf) {
    set_line("connect somewhere");
    std::string seen;
    const LineHandler interpreter = [&](std::string handed) {
        line.clear();
        line.shrink_to_fit();
        seen = std::move(handed);
    };
    editor.key(KeyEvent{ENTER, true, false, false}, line, interpreter);
    EXPECT_EQ(seen, "connect somewhere");
    EXPECT_EQ(line, "");
}

TEST_F(KeyInputTest, KeyUpOfEveryKeyChangesNothing) {
    set_line("ab");
    for (int code = 0; code <= 255; ++code) {
        release(code, false);
        release(code, true);
    }
    EXPECT_EQ(line, "ab");
    EXPECT_TRUE(executed.empty());
}

TEST_F(KeyInputTest, FunctionAndKeypadCodesAreIgnoredWithOrWithoutShift) {
    set_line("x");
    for (int code = 96; code <= 122; ++code) {
        press(code, false);
        press(code, true);
    }
    EXPECT_EQ(line, "x");
    EXPECT_TRUE(executed.empty());
}

TEST_F(KeyInputTest, EveryCodeWithoutARuleIsIgnored) {
    std::set<int> with_rule{BACKSPACE, ENTER, SPACE};
    for (const EditKey& key : edit_keys()) {
        with_rule.insert(key.ctrl ? -1 : key.vk);
    }
    for (const auto& codes : {code_range(48, 57), code_range(65, 90), PUNCTUATION_CODES}) {
        with_rule.insert(codes.begin(), codes.end());
    }
    set_line("keep");
    for (int code = -1; code <= 300; ++code) {
        if (with_rule.count(code) == 0) {
            press(code, false);
            press(code, true);
        }
    }
    EXPECT_EQ(line, "keep");
    EXPECT_TRUE(executed.empty());
}

TEST_F(KeyInputTest, CapsLockDoesNotChangeTheCase) {
    press(CAPS_LOCK);
    press(65);
    press(CAPS_LOCK);
    press(66, true);
    EXPECT_EQ(line, "aB");
}

TEST_F(KeyInputTest, RepeatedKeyDownsOfAHeldKeyEachAppend) {
    press(65);
    press(65);
    press(65);
    release(65);
    EXPECT_EQ(line, "aaa");
}

TEST_F(KeyInputTest, EveryPrintableAsciiCharacterCanBeTyped) {
    // Independent of the implementation's tables: the US layout, key by key.
    const std::string plain = "`1234567890-=qwertyuiop[]\\asdfghjkl;'zxcvbnm,./ ";
    const std::string shifted = "~!@#$%^&*()_+QWERTYUIOP{}|ASDFGHJKL:\"ZXCVBNM<>? ";
    const std::vector<int> codes{192, 49,  50, 51, 52, 53, 54, 55, 56,  57,  48,  189,
                                 187, 81,  87, 69, 82, 84, 89, 85, 73,  79,  80,  219,
                                 221, 220, 65, 83, 68, 70, 71, 72, 74,  75,  76,  186,
                                 222, 90,  88, 67, 86, 66, 78, 77, 188, 190, 191, SPACE};
    ASSERT_EQ(codes.size(), plain.size());
    press_all(codes, false);
    EXPECT_EQ(line, plain);
    line.clear();
    press_all(codes, true);
    EXPECT_EQ(line, shifted);
}

// Text goes in at the cursor: printable bytes as they are; control bytes, line breaks and
// C1 codes are dropped.
TEST_F(KeyInputTest, TextGoesInAtTheCursorWithoutControlBytes) {
    set_line("<>");
    press(vk::left);
    editor.insert("Ab\xe9!\x01\x85\t\ncd", line);
    EXPECT_EQ(line, "<Ab\xe9!cd>");
    EXPECT_TRUE(executed.empty());
    set_line(std::string(LINE_ROOM - 1, 'x'));
    EXPECT_EQ(editor.insert("yz", line), 1U);
    EXPECT_EQ(line.size(), LINE_ROOM);
}

// The editor's keys, each case typed into a fresh editor and read back at the row the
// prompt is drawn from: the line and where its caret stands.
TEST(LineEditorKeys, EachKeyEditsTheLineAndMovesTheCaretAsReadlineDoes) {
    struct Step {
        int vk;
        bool ctrl;
    };
    struct Case {
        const char* typed;
        std::vector<Step> keys;
        const char* line;
        std::size_t caret;
    };
    const Step left{vk::left, false};
    const Step enter{vk::enter, false};
    const Step up{vk::up, false};
    const Step down{vk::down, false};
    const std::vector<Case> cases{
        {"abc", {left, left, {vk::letter('X'), false}}, "axbc", 2},
        {"abc", {left, {vk::right, false}, {vk::right, false}}, "abc", 3},
        {"abc", {{vk::home, false}, {vk::del, false}}, "bc", 0},
        {"abc", {{vk::letter('A'), true}, {vk::letter('Y'), false}}, "yabc", 1},
        {"abc", {{vk::home, false}, {vk::end, false}, {vk::back, false}}, "ab", 2},
        {"abc", {left, {vk::letter('E'), true}}, "abc", 3},
        {"abc", {left, {vk::back, false}}, "ac", 1},
        {"abc",
         {{vk::home, false}, {vk::back, false}, {vk::end, false}, {vk::del, false}},
         "abc",
         3},
        {"hi there", {{vk::letter('U'), true}}, "", 0},
        {"hi there", {{vk::escape, false}}, "", 0},
        {"nick erin  ", {{vk::letter('W'), true}}, "nick ", 5},
        {"one two", {left, left, {vk::letter('W'), true}}, "one wo", 4},
        {"one", {enter, {vk::letter('T'), false}, up}, "one", 3},
        {"one", {enter, {vk::letter('T'), false}, up, down}, "t", 1},
        {"one", {enter, up, {vk::letter('S'), false}, enter, up, up}, "one", 3},
        {"one", {enter, up, {vk::letter('S'), false}, enter, up}, "ones", 4},
        {"", {up, down, left}, "", 0},
    };
    for (const Case& c : cases) {
        LineEditor editor;
        std::string line;
        // The interpreter empties what it was handed, as it does after a line was sent.
        const LineHandler sent = [&line](const std::string&) { line.clear(); };
        editor.insert(c.typed, line);
        for (const Step& step : c.keys) {
            editor.key(KeyEvent{step.vk, true, false, false, false, step.ctrl}, line, sent);
        }
        const ConsoleRows rows = console_rows(line, ChatLog{}, {}, editor.cursor(line));
        EXPECT_EQ(rows.rows[0].text, c.line) << c.typed;
        EXPECT_EQ(rows.rows[0].caret, c.caret) << c.typed;
    }
}

TEST(Latin1Text, KeepsWhatOneByteCanSayAndMakesEveryLineBreakALineFeed) {
    // é, € (no Latin-1 byte), a stray continuation byte, CR LF, a lone CR, a cut sequence.
    EXPECT_EQ(latin1_from_utf8("caf\xc3\xa9 \xe2\x82\xac\x80x\r\ny\rz\xc3"), "caf\xe9 x\ny\nz");
    // The euro, the stray continuation byte and the cut sequence: three left out.
    EXPECT_EQ(latin1_text_from_utf8("caf\xc3\xa9 \xe2\x82\xac\x80x\r\ny\rz\xc3").left_out, 3U);
    EXPECT_EQ(latin1_with_line_feeds("a\r\nb\r\xff"), "a\nb\n\xff");
}

}  // namespace
}  // namespace tw
