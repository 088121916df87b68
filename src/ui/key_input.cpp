#include "ui/key_input.h"

#include <array>
#include <cstdint>

#include "ui/virtual_key.h"

namespace tw {

namespace {

struct ShiftPair {
    int code;
    char plain;
    char shifted;
};

constexpr auto DIGIT_AND_PUNCTUATION_KEYS = std::to_array<ShiftPair>({
    {48, '0', ')'},
    {49, '1', '!'},
    {50, '2', '@'},
    {51, '3', '#'},
    {52, '4', '$'},
    {53, '5', '%'},
    {54, '6', '^'},
    {55, '7', '&'},
    {56, '8', '*'},
    {57, '9', '('},
    {vk::semicolon, ';', ':'},
    {vk::equals, '=', '+'},
    {vk::comma, ',', '<'},
    {vk::minus, '-', '_'},
    {vk::period, '.', '>'},
    {vk::slash, '/', '?'},
    {vk::grave, '`', '~'},
    {vk::left_bracket, '[', '{'},
    {vk::backslash, '\\', '|'},
    {vk::right_bracket, ']', '}'},
    {vk::apostrophe, '\'', '"'},
});

// A letter key's code is its upper-case letter; the lower-case one lies 32 above it.
constexpr int LOWER_CASE_DISTANCE = 32;
constexpr char FIRST_PRINTABLE = 0x20;
constexpr char DELETE = 0x7f;

}  // namespace

std::optional<char> key_character(int vk_code, bool shift) {
    if (vk_code >= vk::letter_a && vk_code <= vk::letter_z) {
        return static_cast<char>(shift ? vk_code : vk_code + LOWER_CASE_DISTANCE);
    }
    if (vk_code == vk::space) {
        return ' ';
    }
    for (const ShiftPair& key : DIGIT_AND_PUNCTUATION_KEYS) {
        if (key.code == vk_code) {
            return shift ? key.shifted : key.plain;
        }
    }
    return std::nullopt;
}

std::optional<KeyEvent> key_event_for_byte(char byte) {
    // Printable ASCII KeySyms are the ASCII codes themselves, so the window's own table
    // gives the key; Shift is whatever makes that key type this byte.
    if (byte < FIRST_PRINTABLE || byte >= DELETE) {
        return std::nullopt;
    }
    const auto code = virtual_key_from_keysym(static_cast<std::uint32_t>(byte));
    if (!code) {
        return std::nullopt;
    }
    const bool shift = key_character(*code, false) != byte;
    return KeyEvent{*code, true, shift, false};
}

}  // namespace tw
