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

// Whether the key types into the line or submits it (a character, Backspace, Enter).
bool edits_line(int vk_code);

// One key event from the window: edits the input line, or on Enter hands a copy of a
// non-empty line to `execute`. Key-up events change nothing; a held key's repeated
// key-downs each count once. `shift` is the Shift state as of this event.
void on_key(int vk_code, bool down, bool shift, std::string& input_line,
            const LineHandler& execute);

// Text typed or pasted as a whole (Latin-1 bytes, '\n' for a line break): printable
// characters (ASCII and the Latin-1 letters and signs from 0xA0) go into the line as they
// are, a line break is Enter. Control bytes and the C1 codes are dropped.
void type_text(std::string_view text, std::string& input_line, const LineHandler& execute);

}  // namespace tw
