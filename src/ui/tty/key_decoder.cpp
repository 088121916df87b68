#include "ui/tty/key_decoder.h"

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

constexpr KeyEvent key_down(int vk_code) {
    return KeyEvent{vk_code, true, false, false};
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
            } else if (ends_sequence(byte) || byte == CANCEL || byte == SUBSTITUTE) {
                state = State::ground;
            }
            return;
        case State::ss3:
            state = State::ground;
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
