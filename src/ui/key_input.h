#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "ui/window_system.h"

namespace tw {

// Hands a typed line to the command interpreter; the interpreter empties the input line.
using LineHandler = std::function<void(std::string line)>;

// The character a key adds to the input line on a US layout, or nothing when the key adds
// none. Caps Lock is deliberately not an argument: only Shift decides the case.
std::optional<char> key_character(int vk_code, bool shift);

// The key event that types one printable ASCII byte: the virtual-key code of the key
// that carries it on a US layout, with Shift when the byte is that key's shifted
// character. Nothing for other bytes. Platforms whose keyboards have other layouts turn
// the characters their users typed into these, so that the table above stays the one
// place that says what a key types.
std::optional<KeyEvent> key_event_for_byte(char byte);

}  // namespace tw
