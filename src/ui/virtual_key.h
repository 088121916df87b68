#pragma once

#include <cstdint>
#include <optional>

namespace tw {

// Windows virtual-key codes: the key numbers the console's key handling is written
// against, whatever the platform reports. Only the ones the program names are listed.
namespace vk {
inline constexpr int back = 8;
inline constexpr int tab = 9;
inline constexpr int clear = 12;
inline constexpr int enter = 13;
inline constexpr int shift = 16;
inline constexpr int control = 17;
inline constexpr int alt = 18;
inline constexpr int pause = 19;
inline constexpr int caps_lock = 20;
inline constexpr int escape = 27;
inline constexpr int space = 32;
inline constexpr int page_up = 33;
inline constexpr int page_down = 34;
inline constexpr int end = 35;
inline constexpr int home = 36;
inline constexpr int left = 37;
inline constexpr int up = 38;
inline constexpr int right = 39;
inline constexpr int down = 40;
inline constexpr int print_screen = 44;
inline constexpr int insert = 45;
inline constexpr int del = 46;
inline constexpr int digit_0 = 48;
inline constexpr int letter_a = 65;
inline constexpr int letter_z = 90;
inline constexpr int left_super = 91;
inline constexpr int right_super = 92;
inline constexpr int apps = 93;
inline constexpr int numpad_0 = 96;
inline constexpr int numpad_multiply = 106;
inline constexpr int numpad_add = 107;
inline constexpr int numpad_separator = 108;
inline constexpr int numpad_subtract = 109;
inline constexpr int numpad_decimal = 110;
inline constexpr int numpad_divide = 111;
inline constexpr int f1 = 112;
inline constexpr int f10 = 121;
inline constexpr int num_lock = 144;
inline constexpr int scroll_lock = 145;
inline constexpr int semicolon = 186;
inline constexpr int equals = 187;
inline constexpr int comma = 188;
inline constexpr int minus = 189;
inline constexpr int period = 190;
inline constexpr int slash = 191;
inline constexpr int grave = 192;
inline constexpr int left_bracket = 219;
inline constexpr int backslash = 220;
inline constexpr int right_bracket = 221;
inline constexpr int apostrophe = 222;

// The code of a letter key, from its upper-case letter.
constexpr int letter(char upper) {
    return upper;
}
}  // namespace vk

// The virtual-key code of the key that produced an X11 KeySym, on a US layout; nothing
// for keys the program has no code for. Both the plain and the shifted KeySym of a key
// give the key's one code, as Windows names keys, not characters. KeySyms are fixed
// numbers of the X protocol, so the table needs no X header and is testable anywhere.
std::optional<int> virtual_key_from_keysym(std::uint32_t keysym);

}  // namespace tw
