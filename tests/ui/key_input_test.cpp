#include "ui/key_input.h"

#include "ui/latin1_text.h"

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
    void press(int code, bool shift = false) { on_key(code, true, shift, line, execute); }
    void release(int code, bool shift = false) { on_key(code, false, shift, line, execute); }
    void press_all(const std::vector<int>& codes, bool shift) {
        for (const int code : codes) {
            press(code, shift);
        }
    }

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
    line = "nick";
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
    line = "ab";
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
    line = "serve";
    press(ENTER);
    EXPECT_EQ(executed, (std::vector<std::string>{"serve"}));
}

TEST_F(KeyInputTest, EnterLeavesEmptyingTheLineToTheInterpreter) {
    line = "hello";
    press(ENTER);
    EXPECT_EQ(line, "hello");
}

TEST_F(KeyInputTest, TheInterpreterMayEmptyTheLineItWasHandedACopyOf) {
    line = "connect somewhere";
    std::string seen;
    const LineHandler interpreter = [&](std::string handed) {
        line.clear();
        line.shrink_to_fit();
        seen = std::move(handed);
    };
    on_key(ENTER, true, false, line, interpreter);
    EXPECT_EQ(seen, "connect somewhere");
    EXPECT_EQ(line, "");
}

TEST_F(KeyInputTest, KeyUpOfEveryKeyChangesNothing) {
    line = "ab";
    for (int code = 0; code <= 255; ++code) {
        release(code, false);
        release(code, true);
    }
    EXPECT_EQ(line, "ab");
    EXPECT_TRUE(executed.empty());
}

TEST_F(KeyInputTest, FunctionAndKeypadCodesAreIgnoredWithOrWithoutShift) {
    line = "x";
    for (int code = 96; code <= 122; ++code) {
        press(code, false);
        press(code, true);
    }
    EXPECT_EQ(line, "x");
    EXPECT_TRUE(executed.empty());
}

TEST_F(KeyInputTest, EveryCodeWithoutARuleIsIgnored) {
    std::set<int> with_rule{BACKSPACE, ENTER, SPACE};
    for (const auto& codes : {code_range(48, 57), code_range(65, 90), PUNCTUATION_CODES}) {
        with_rule.insert(codes.begin(), codes.end());
    }
    line = "keep";
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

// A paste or a typed character: printable bytes as they are, the line break as Enter,
// control bytes and C1 codes dropped.
TEST_F(KeyInputTest, TextIsTypedAsItsCharactersWithLineBreaksAsEnter) {
    type_text("Ab\xe9!\x01\x85\t\ncd", line, execute);
    EXPECT_EQ(executed, std::vector<std::string>{"Ab\xe9!"});
    // Emptying the line is the interpreter's job, and this one leaves it.
    EXPECT_EQ(line, "Ab\xe9!cd");
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
