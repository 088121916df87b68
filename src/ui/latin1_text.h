#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tw {

// Peers exchange single-byte characters, read as Latin-1 by both front ends. Text from
// the desktop (what a key typed, a paste) comes as UTF-8; this keeps what Latin-1 can
// say: characters up to U+00FF become their one byte, every other character and every
// malformed sequence is dropped. Line breaks (CR LF, CR, LF) all become '\n'.
std::string latin1_from_utf8(std::string_view utf8);

// The same, counting the characters that were left out, so that the user can be told.
struct Latin1Text {
    std::string text;
    std::size_t left_out = 0;
};
Latin1Text latin1_text_from_utf8(std::string_view utf8);

// Latin-1 bytes as UTF-8, for the desktop: each byte is the code point of its value.
std::string utf8_from_latin1(std::string_view latin1);

// The same line breaks for text that is Latin-1 already.
std::string latin1_with_line_feeds(std::string_view latin1);

}  // namespace tw
