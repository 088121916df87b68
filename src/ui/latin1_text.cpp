#include "ui/latin1_text.h"

#include <cstddef>
#include <cstdint>

namespace tw {

namespace {

constexpr std::uint32_t LAST_LATIN1 = 0xff;
constexpr std::uint32_t NOT_A_CHARACTER = 0xffffffff;

// Length of the sequence that `lead` opens, or 0 when it cannot open one.
std::size_t sequence_length(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xc2 && lead <= 0xdf) {
        return 2;
    }
    if (lead >= 0xe0 && lead <= 0xef) {
        return 3;
    }
    if (lead >= 0xf0 && lead <= 0xf4) {
        return 4;
    }
    return 0;
}

// The character at the front of `utf8` and how many bytes it took; a malformed sequence
// takes its first byte and gives NOT_A_CHARACTER. Overlong forms of characters above
// U+007F are refused by the lead bytes above; longer ones need not be, as they are
// dropped anyway.
std::uint32_t next_character(std::string_view utf8, std::size_t& taken) {
    const auto lead = static_cast<unsigned char>(utf8[0]);
    const std::size_t length = sequence_length(lead);
    taken = 1;
    if (length == 0 || length > utf8.size()) {
        return NOT_A_CHARACTER;
    }
    if (length == 1) {
        return lead;
    }
    std::uint32_t character = lead & (0x7fU >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(utf8[i]);
        if ((next & 0xc0U) != 0x80U) {
            return NOT_A_CHARACTER;
        }
        character = (character << 6U) | (next & 0x3fU);
    }
    taken = length;
    return character;
}

}  // namespace

std::string utf8_from_latin1(std::string_view latin1) {
    std::string utf8;
    for (const char byte : latin1) {
        const auto value = static_cast<unsigned char>(byte);
        if (value < 0x80U) {
            utf8 += byte;
        } else {
            utf8 += static_cast<char>(0xC0U | (value >> 6U));
            utf8 += static_cast<char>(0x80U | (value & 0x3FU));
        }
    }
    return utf8;
}

std::string latin1_with_line_feeds(std::string_view latin1) {
    std::string text;
    text.reserve(latin1.size());
    for (std::size_t i = 0; i < latin1.size(); ++i) {
        if (latin1[i] != '\r') {
            text.push_back(latin1[i]);
            continue;
        }
        text.push_back('\n');
        if (i + 1 < latin1.size() && latin1[i + 1] == '\n') {
            ++i;
        }
    }
    return text;
}

Latin1Text latin1_text_from_utf8(std::string_view utf8) {
    Latin1Text converted;
    std::string& text = converted.text;
    text.reserve(utf8.size());
    while (!utf8.empty()) {
        std::size_t taken = 1;
        const std::uint32_t character = next_character(utf8, taken);
        if (character <= LAST_LATIN1) {
            text.push_back(static_cast<char>(character));
        } else {
            ++converted.left_out;
        }
        utf8.remove_prefix(taken);
    }
    text = latin1_with_line_feeds(text);
    return converted;
}

std::string latin1_from_utf8(std::string_view utf8) {
    return latin1_text_from_utf8(utf8).text;
}

}  // namespace tw
