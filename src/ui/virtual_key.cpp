#include "ui/virtual_key.h"

#include <array>

namespace tw {

namespace {

struct KeysymCode {
    std::uint32_t keysym;
    int code;
};

// KeySyms of the printable keys outside the letter and digit runs, plain and shifted.
constexpr auto PRINTABLE_KEYS = std::to_array<KeysymCode>({
    {0x0020, vk::space},          // space
    {0x0021, 49},                 // exclam
    {0x0040, 50},                 // at
    {0x0023, 51},                 // numbersign
    {0x0024, 52},                 // dollar
    {0x0025, 53},                 // percent
    {0x005e, 54},                 // asciicircum
    {0x0026, 55},                 // ampersand
    {0x002a, 56},                 // asterisk
    {0x0028, 57},                 // parenleft
    {0x0029, 48},                 // parenright
    {0x003b, vk::semicolon},      // semicolon
    {0x003a, vk::semicolon},      // colon
    {0x003d, vk::equals},         // equal
    {0x002b, vk::equals},         // plus
    {0x002c, vk::comma},          // comma
    {0x003c, vk::comma},          // less
    {0x002d, vk::minus},          // minus
    {0x005f, vk::minus},          // underscore
    {0x002e, vk::period},         // period
    {0x003e, vk::period},         // greater
    {0x002f, vk::slash},          // slash
    {0x003f, vk::slash},          // question
    {0x0060, vk::grave},          // grave
    {0x007e, vk::grave},          // asciitilde
    {0x005b, vk::left_bracket},   // bracketleft
    {0x007b, vk::left_bracket},   // braceleft
    {0x005c, vk::backslash},      // backslash
    {0x007c, vk::backslash},      // bar
    {0x005d, vk::right_bracket},  // bracketright
    {0x007d, vk::right_bracket},  // braceright
    {0x0027, vk::apostrophe},     // apostrophe
    {0x0022, vk::apostrophe},     // quotedbl
});

constexpr auto FUNCTION_KEYS = std::to_array<KeysymCode>({
    {0xff08, vk::back},              // BackSpace
    {0xff09, vk::tab},               // Tab
    {0xfe20, vk::tab},               // ISO_Left_Tab (Shift+Tab)
    {0xff0d, vk::enter},             // Return
    {0xff8d, vk::enter},             // KP_Enter
    {0xff13, vk::pause},             // Pause
    {0xff14, vk::scroll_lock},       // Scroll_Lock
    {0xff1b, vk::escape},            // Escape
    {0xff50, vk::home},              // Home
    {0xff51, vk::left},              // Left
    {0xff52, vk::up},                // Up
    {0xff53, vk::right},             // Right
    {0xff54, vk::down},              // Down
    {0xff55, vk::page_up},           // Prior
    {0xff56, vk::page_down},         // Next
    {0xff57, vk::end},               // End
    {0xff61, vk::print_screen},      // Print
    {0xff63, vk::insert},            // Insert
    {0xff67, vk::apps},              // Menu
    {0xff7f, vk::num_lock},          // Num_Lock
    {0xff95, vk::home},              // KP_Home
    {0xff96, vk::left},              // KP_Left
    {0xff97, vk::up},                // KP_Up
    {0xff98, vk::right},             // KP_Right
    {0xff99, vk::down},              // KP_Down
    {0xff9a, vk::page_up},           // KP_Prior
    {0xff9b, vk::page_down},         // KP_Next
    {0xff9c, vk::end},               // KP_End
    {0xff9e, vk::insert},            // KP_Insert
    {0xff9f, vk::del},               // KP_Delete
    {0xffaa, vk::numpad_multiply},   // KP_Multiply
    {0xffab, vk::numpad_add},        // KP_Add
    {0xffac, vk::numpad_separator},  // KP_Separator
    {0xffad, vk::numpad_subtract},   // KP_Subtract
    {0xffae, vk::numpad_decimal},    // KP_Decimal
    {0xffaf, vk::numpad_divide},     // KP_Divide
    {0xffe1, vk::shift},             // Shift_L
    {0xffe2, vk::shift},             // Shift_R
    {0xffe3, vk::control},           // Control_L
    {0xffe4, vk::control},           // Control_R
    {0xffe5, vk::caps_lock},         // Caps_Lock
    {0xffe7, vk::alt},               // Meta_L
    {0xffe8, vk::alt},               // Meta_R
    {0xffe9, vk::alt},               // Alt_L
    {0xffea, vk::alt},               // Alt_R
    {0xffeb, vk::left_super},        // Super_L
    {0xffec, vk::right_super},       // Super_R
    {0xfe03, vk::alt},               // ISO_Level3_Shift (AltGr)
    {0xffff, vk::del},               // Delete
    {0xff0b, vk::clear},             // Clear
    {0xff9d, vk::clear},             // KP_Begin (keypad 5 without Num Lock)
});

constexpr std::uint32_t KEYSYM_SMALL_A = 0x0061;
constexpr std::uint32_t KEYSYM_SMALL_Z = 0x007a;
constexpr std::uint32_t KEYSYM_CAPITAL_A = 0x0041;
constexpr std::uint32_t KEYSYM_CAPITAL_Z = 0x005a;
constexpr std::uint32_t KEYSYM_DIGIT_0 = 0x0030;
constexpr std::uint32_t KEYSYM_DIGIT_9 = 0x0039;
constexpr std::uint32_t KEYSYM_KP_0 = 0xffb0;
constexpr std::uint32_t KEYSYM_KP_9 = 0xffb9;
constexpr std::uint32_t KEYSYM_F1 = 0xffbe;
constexpr std::uint32_t KEYSYM_F24 = 0xffd5;

int offset_code(int first_code, std::uint32_t keysym, std::uint32_t first_keysym) {
    return first_code + static_cast<int>(keysym - first_keysym);
}

}  // namespace

std::optional<int> virtual_key_from_keysym(std::uint32_t keysym) {
    if (keysym >= KEYSYM_SMALL_A && keysym <= KEYSYM_SMALL_Z) {
        return offset_code(vk::letter_a, keysym, KEYSYM_SMALL_A);
    }
    if (keysym >= KEYSYM_CAPITAL_A && keysym <= KEYSYM_CAPITAL_Z) {
        return offset_code(vk::letter_a, keysym, KEYSYM_CAPITAL_A);
    }
    if (keysym >= KEYSYM_DIGIT_0 && keysym <= KEYSYM_DIGIT_9) {
        return offset_code(vk::digit_0, keysym, KEYSYM_DIGIT_0);
    }
    if (keysym >= KEYSYM_KP_0 && keysym <= KEYSYM_KP_9) {
        return offset_code(vk::numpad_0, keysym, KEYSYM_KP_0);
    }
    if (keysym >= KEYSYM_F1 && keysym <= KEYSYM_F24) {
        return offset_code(vk::f1, keysym, KEYSYM_F1);
    }
    for (const KeysymCode& key : PRINTABLE_KEYS) {
        if (key.keysym == keysym) {
            return key.code;
        }
    }
    for (const KeysymCode& key : FUNCTION_KEYS) {
        if (key.keysym == keysym) {
            return key.code;
        }
    }
    return std::nullopt;
}

}  // namespace tw
