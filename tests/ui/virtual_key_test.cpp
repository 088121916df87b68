#include "ui/virtual_key.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "ui/key_input.h"

namespace tw {
namespace {

// The X11 header is used here only to check the table's plain numbers against the
// protocol's own names.
std::optional<int> code_of(unsigned long keysym) {
    return virtual_key_from_keysym(static_cast<std::uint32_t>(keysym));
}

struct NamedKey {
    unsigned long keysym;
    int code;
};

class VirtualKeyTest : public ::testing::Test {
  protected:
    void expect_codes(const std::vector<NamedKey>& keys) {
        for (const NamedKey& key : keys) {
            EXPECT_EQ(code_of(key.keysym), key.code) << "keysym 0x" << std::hex << key.keysym;
        }
    }
};

TEST_F(VirtualKeyTest, BothCasesOfALetterGiveTheUpperCaseCode) {
    for (unsigned long offset = 0; offset < 26; ++offset) {
        const int expected = 'A' + static_cast<int>(offset);
        EXPECT_EQ(code_of(XK_a + offset), expected);
        EXPECT_EQ(code_of(XK_A + offset), expected);
    }
}

TEST_F(VirtualKeyTest, DigitsAndTheirShiftedSymbolsGiveTheDigitCode) {
    expect_codes({{XK_0, 48},
                  {XK_1, 49},
                  {XK_5, 53},
                  {XK_9, 57},
                  {XK_parenright, 48},
                  {XK_exclam, 49},
                  {XK_at, 50},
                  {XK_numbersign, 51},
                  {XK_dollar, 52},
                  {XK_percent, 53},
                  {XK_asciicircum, 54},
                  {XK_ampersand, 55},
                  {XK_asterisk, 56},
                  {XK_parenleft, 57}});
}

TEST_F(VirtualKeyTest, PunctuationPlainAndShiftedGiveTheUsKeyCodes) {
    expect_codes(
        {{XK_semicolon, 186},  {XK_colon, 186},      {XK_equal, 187},        {XK_plus, 187},
         {XK_comma, 188},      {XK_less, 188},       {XK_minus, 189},        {XK_underscore, 189},
         {XK_period, 190},     {XK_greater, 190},    {XK_slash, 191},        {XK_question, 191},
         {XK_grave, 192},      {XK_asciitilde, 192}, {XK_bracketleft, 219},  {XK_braceleft, 219},
         {XK_backslash, 220},  {XK_bar, 220},        {XK_bracketright, 221}, {XK_braceright, 221},
         {XK_apostrophe, 222}, {XK_quotedbl, 222},   {XK_space, 32}});
}

TEST_F(VirtualKeyTest, EditingAndModifierKeys) {
    expect_codes({{XK_BackSpace, 8}, {XK_Tab, 9},      {XK_Return, 13},    {XK_KP_Enter, 13},
                  {XK_Escape, 27},   {XK_Shift_L, 16}, {XK_Shift_R, 16},   {XK_Control_L, 17},
                  {XK_Alt_L, 18},    {XK_Alt_R, 18},   {XK_Caps_Lock, 20}, {XK_Delete, 46},
                  {XK_Insert, 45},   {XK_Home, 36},    {XK_End, 35},       {XK_Left, 37},
                  {XK_Up, 38},       {XK_Right, 39},   {XK_Down, 40},      {XK_Prior, 33},
                  {XK_Next, 34}});
}

TEST_F(VirtualKeyTest, FunctionKeysRunFromOneHundredTwelve) {
    expect_codes({{XK_F1, 112}, {XK_F10, 121}, {XK_F11, 122}, {XK_F12, 123}, {XK_F24, 135}});
}

TEST_F(VirtualKeyTest, KeypadKeysGiveNumpadCodesWithNumLockAndArrowsWithout) {
    expect_codes({{XK_KP_0, 96},
                  {XK_KP_9, 105},
                  {XK_KP_Multiply, 106},
                  {XK_KP_Add, 107},
                  {XK_KP_Subtract, 109},
                  {XK_KP_Decimal, 110},
                  {XK_KP_Divide, 111},
                  {XK_KP_Home, 36},
                  {XK_KP_Left, 37},
                  {XK_KP_Insert, 45},
                  {XK_KP_Delete, 46}});
}

TEST_F(VirtualKeyTest, KeysWithoutACodeGiveNothing) {
    for (const unsigned long keysym :
         std::initializer_list<unsigned long>{0, XK_VoidSymbol, XK_eacute, XK_Greek_alpha,
                                              XK_EuroSign, XK_Multi_key, 0x7f, 0x1000000}) {
        EXPECT_FALSE(code_of(keysym).has_value()) << "keysym 0x" << std::hex << keysym;
    }
}

TEST_F(VirtualKeyTest, NoKeypadOrFunctionKeyTypesACharacter) {
    for (const unsigned long keysym : std::initializer_list<unsigned long>{
             XK_KP_0, XK_KP_5, XK_KP_Add, XK_KP_Divide, XK_F1, XK_F12, XK_Tab, XK_Escape, XK_Delete,
             XK_KP_Decimal, XK_Home, XK_Caps_Lock}) {
        const auto code = code_of(keysym);
        ASSERT_TRUE(code.has_value());
        EXPECT_FALSE(key_character(*code, false).has_value()) << "keysym 0x" << std::hex << keysym;
        EXPECT_FALSE(key_character(*code, true).has_value()) << "keysym 0x" << std::hex << keysym;
    }
}

TEST_F(VirtualKeyTest, EveryPrintableAsciiKeysymTypesItselfWithTheRightShift) {
    // On a US layout the keysym of a printable character is its ASCII value, and the
    // shifted characters are exactly these.
    const std::string needs_shift = "~!@#$%^&*()_+{}|:\"<>?ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (int character = 0x20; character <= 0x7e; ++character) {
        const auto code = code_of(static_cast<unsigned long>(character));
        ASSERT_TRUE(code.has_value()) << "character " << character;
        const bool shift = needs_shift.find(static_cast<char>(character)) != std::string::npos;
        EXPECT_EQ(key_character(*code, shift), static_cast<char>(character))
            << "character " << static_cast<char>(character);
    }
}

}  // namespace
}  // namespace tw
