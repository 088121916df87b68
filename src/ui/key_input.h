#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tw {

// Hands a typed line to the command interpreter; the interpreter empties the input line.
using LineHandler = std::function<void(std::string line)>;

// The character a key adds to the input line on a US layout, or nothing when the key adds
// none. Caps Lock is deliberately not an argument: only Shift decides the case.
std::optional<char> key_character(int vk_code, bool shift);

// One key event from the window: edits the input line, or on Enter hands a copy of a
// non-empty line to `execute`. Key-up events change nothing; a held key's repeated
// key-downs each count once. `shift` is the Shift state as of this event.
void on_key(int vk_code, bool down, bool shift, std::string& input_line,
            const LineHandler& execute);

}  // namespace tw
