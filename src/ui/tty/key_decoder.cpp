#include "ui/tty/key_decoder.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "ui/latin1_text.h"
#include "ui/pasted_lines.h"

#include "ui/virtual_key.h"

namespace tw {

namespace {

constexpr char CTRL_C = 0x03;
constexpr char CTRL_D = 0x04;
constexpr char BELL = 0x07;
constexpr char BACKSPACE = 0x08;
constexpr char LINE_FEED = 0x0a;
constexpr char CARRIAGE_RETURN = 0x0d;
constexpr char CANCEL = 0x18;
constexpr char SUBSTITUTE = 0x1a;
constexpr char ESCAPE = 0x1b;
constexpr char DELETE = 0x7f;

// The numbers of CSI n ~ keys, as xterm and the Linux console send them; CSI I and CSI O
// report the focus once it was asked for.
struct NumberedKey {
    int number;
    int vk;
};
constexpr auto NUMBERED_KEYS = std::to_array<NumberedKey>({
    {1, vk::home},
    {7, vk::home},
    {3, vk::del},
    {4, vk::end},
    {8, vk::end},
    {5, vk::page_up},
    {6, vk::page_down},
});
// The final byte of CSI or SS3 cursor keys.
struct LetteredKey {
    char final_byte;
    int vk;
};
constexpr auto LETTERED_KEYS = std::to_array<LetteredKey>({
    {'A', vk::up},
    {'B', vk::down},
    {'C', vk::right},
    {'D', vk::left},
    {'H', vk::home},
    {'F', vk::end},
});
// Bracketed paste: what comes between these two is pasted text, not keys.
constexpr int PASTE_START_NUMBER = 200;
constexpr std::string_view PASTE_END = "\x1b[201~";
constexpr char LAST_CONTROL_LETTER = 0x1a;
// Numbers are read only as far as a key's, so that a long one cannot overflow.
constexpr int MAX_CSI_NUMBER = 1000;

constexpr KeyEvent key_down(int vk_code) {
    return KeyEvent{vk_code, true, false, false};
}

std::optional<int> lettered_key(char final_byte) {
    for (const LetteredKey& key : LETTERED_KEYS) {
        if (key.final_byte == final_byte) {
            return key.vk;
        }
    }
    return std::nullopt;
}

// The final byte of a control sequence; everything before it is parameters.
bool ends_sequence(char byte) {
    return byte >= 0x40 && byte <= 0x7e;
}

// Escape followed by one of these opens a string (OSC, DCS, SOS, PM, APC) that runs to
// BEL or to ESC backslash.
bool opens_string(char byte) {
    return byte == ']' || byte == 'P' || byte == 'X' || byte == '^' || byte == '_';
}

}  // namespace

void KeyDecoder::feed(std::string_view bytes, std::vector<WindowEvent>& events) {
    for (const char byte : bytes) {
        step(byte, events);
    }
    if (state == State::escape) {
        state = State::ground;
        events.emplace_back(key_down(vk::escape));
    }
}

void KeyDecoder::step(char byte, std::vector<WindowEvent>& events) {
    switch (state) {
        case State::ground:
            ground(byte, events);
            return;
        case State::escape:
            if (byte == '[') {
                state = State::csi;
                csi_number = -1;
                csi_other = false;
            } else if (byte == 'O') {
                state = State::ss3;
            } else if (opens_string(byte)) {
                state = State::string;
            } else if (byte != ESCAPE) {
                // Alt+key: the window gives Alt-held keys to its menu, never to the line.
                state = State::ground;
            }
            return;
        case State::csi:
            if (byte == ESCAPE) {
                state = State::escape;
            } else if (byte == CANCEL || byte == SUBSTITUTE) {
                state = State::ground;
            } else if (ends_sequence(byte)) {
                state = State::ground;
                end_csi(byte, events);
            } else if (byte >= '0' && byte <= '9' && csi_number < MAX_CSI_NUMBER) {
                csi_number = std::max(csi_number, 0) * 10 + (byte - '0');
            } else {
                csi_other = true;
            }
            return;
        case State::ss3:
            state = State::ground;
            if (const auto code = lettered_key(byte)) {
                events.emplace_back(key_down(*code));
            }
            return;
        case State::paste:
            take_pasted(byte, events);
            return;
        case State::string:
            if (byte == BELL) {
                state = State::ground;
            } else if (byte == ESCAPE) {
                state = State::string_escape;
            }
            return;
        case State::string_escape:
            state = byte == '\\' ? State::ground : State::string;
            return;
    }
}

void KeyDecoder::end_csi(char final_byte, std::vector<WindowEvent>& events) {
    if (csi_other) {
        return;
    }
    if (final_byte == '~' && csi_number == PASTE_START_NUMBER) {
        state = State::paste;
        pasted.clear();
        pasted_total = 0;
        return;
    }
    if (final_byte == '~') {
        for (const NumberedKey& key : NUMBERED_KEYS) {
            if (key.number == csi_number) {
                events.emplace_back(key_down(key.vk));
            }
        }
    } else if (csi_number < 0 && (final_byte == 'I' || final_byte == 'O')) {
        focused = final_byte == 'I';
    } else if (const auto code = lettered_key(final_byte); code && csi_number < 0) {
        events.emplace_back(key_down(*code));
    }
}

void KeyDecoder::take_pasted(char byte, std::vector<WindowEvent>& events) {
    // The end marker is kept until it is whole, so that a read may split it.
    ++pasted_total;
    if (pasted.size() < MAX_PASTE_BYTES + PASTE_END.size()) {
        pasted.push_back(byte);
    }
    if (!pasted.ends_with(PASTE_END)) {
        return;
    }
    state = State::ground;
    pasted.resize(pasted.size() - PASTE_END.size());
    pasted_total -= PASTE_END.size();
    Latin1Text text = latin1_text_from_utf8(pasted);
    events.emplace_back(TextEvent{std::move(text.text), text.left_out});
    if (pasted_total > pasted.size()) {
        events.emplace_back(NoticeEvent{"Pasted " + grouped_number(pasted.size()) + " of " +
                                        grouped_number(pasted_total) + " bytes"});
    }
    pasted.clear();
}

void KeyDecoder::ground(char byte, std::vector<WindowEvent>& events) {
    switch (byte) {
        case ESCAPE:
            state = State::escape;
            return;
        case CTRL_C:
        case CTRL_D:
            events.emplace_back(CloseEvent{});
            return;
        case BACKSPACE:
        case DELETE:
            events.emplace_back(key_down(vk::back));
            return;
        case CARRIAGE_RETURN:
        case LINE_FEED:
            events.emplace_back(key_down(vk::enter));
            return;
        default:
            // Ctrl with a letter: the line's editing keys.
            if (byte > 0 && byte <= LAST_CONTROL_LETTER) {
                events.emplace_back(
                    KeyEvent{vk::letter('A') + byte - 1, true, false, false, false, true});
                return;
            }
            if (const auto key = key_event_for_byte(byte)) {
                events.emplace_back(*key);
            }
            return;
    }
}

void LineDecoder::feed(std::string_view bytes, std::vector<WindowEvent>& events) {
    for (const char byte : bytes) {
        if (byte == LINE_FEED) {
            events.emplace_back(key_down(vk::enter));
            line_open = false;
        } else if (const auto key = key_event_for_byte(byte)) {
            events.emplace_back(*key);
            line_open = true;
        }
    }
}

void LineDecoder::finish(std::vector<WindowEvent>& events) {
    if (line_open) {
        events.emplace_back(key_down(vk::enter));
        line_open = false;
    }
}

}  // namespace tw
