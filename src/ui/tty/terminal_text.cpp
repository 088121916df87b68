#include "ui/tty/terminal_text.h"

#include <langinfo.h>

#include <cstdint>
#include <string_view>

namespace tw {

namespace {

constexpr unsigned FIRST_PRINTABLE = 0x20;
constexpr unsigned DELETE = 0x7f;
constexpr unsigned LAST_C1 = 0x9f;

}  // namespace

TextEncoding locale_text_encoding() {
    const std::string_view codeset = nl_langinfo(CODESET);
    if (codeset == "UTF-8" || codeset == "utf8") {
        return TextEncoding::utf8;
    }
    if (codeset == "ISO-8859-1" || codeset == "ISO-8859-15") {
        return TextEncoding::latin1;
    }
    return TextEncoding::ascii;
}

char displayable_byte(char byte) {
    const auto value = static_cast<std::uint8_t>(byte);
    if (value < FIRST_PRINTABLE || (value >= DELETE && value <= LAST_C1)) {
        return '?';
    }
    return byte;
}

std::string terminal_text(std::string_view text, TextEncoding encoding) {
    std::string shown;
    shown.reserve(text.size());
    for (const char byte : text) {
        const auto value = static_cast<std::uint8_t>(displayable_byte(byte));
        if (value < DELETE) {
            shown += static_cast<char>(value);
        } else if (encoding == TextEncoding::latin1) {
            shown += static_cast<char>(value);
        } else if (encoding == TextEncoding::utf8) {
            // Latin-1 is the first 256 code points: two bytes, 110000xx 10xxxxxx.
            shown += static_cast<char>(0xC0U | (value >> 6U));
            shown += static_cast<char>(0x80U | (value & 0x3FU));
        } else {
            shown += '?';
        }
    }
    return shown;
}

}  // namespace tw
