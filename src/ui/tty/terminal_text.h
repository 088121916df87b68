#pragma once

#include <string>
#include <string_view>

namespace tw {

// How bytes 0xA0 to 0xFF (Latin-1 letters and signs, as the window draws them) reach the
// terminal: as UTF-8, as themselves on a Latin-1 terminal, or as '?' where the terminal's
// character set is neither and could show them as anything.
enum class TextEncoding { utf8, latin1, ascii };

// The encoding of the terminal as the locale's character set names it; call after
// setlocale(LC_CTYPE, "").
TextEncoding locale_text_encoding();

// The byte that stands on screen for one byte of untrusted text: control bytes (C0, DEL
// and C1), which could move the cursor, retitle the window or start an escape sequence,
// become '?'; every other byte is kept. Exactly one screen cell per byte either way.
char displayable_byte(char byte);

// Untrusted text made safe and converted for the terminal, one screen cell per byte.
std::string terminal_text(std::string_view text, TextEncoding encoding);

}  // namespace tw
