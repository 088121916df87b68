#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/key_input.h"
#include "ui/window_system.h"

namespace tw {

// Turns the bytes a terminal in raw mode sends into the window's events. Escape sequences
// (function keys, Alt+key, any string a terminal might answer with) are consumed whole,
// also when a read splits them; the cursor, editing and page keys among them are keys.
// Ctrl+C and Ctrl+D ask to close, as the window's close box does; other Ctrl+letters are
// keys held with Ctrl. A bracketed paste is one text. The terminal's focus reports (when
// it sends them) are kept.
class KeyDecoder {
  public:
    // Decodes one read's worth of bytes. An Escape that ends a read is taken as the
    // Escape key alone, which does nothing: terminals send a sequence in one write.
    void feed(std::string_view bytes, std::vector<WindowEvent>& events);
    // False once the terminal said that it lost the focus, until it says it has it again.
    bool terminal_focused() const { return focused; }

  private:
    enum class State { ground, escape, csi, ss3, string, string_escape, paste };

    void ground(char byte, std::vector<WindowEvent>& events);
    void step(char byte, std::vector<WindowEvent>& events);
    void end_csi(char final_byte, std::vector<WindowEvent>& events);
    void take_pasted(char byte, std::vector<WindowEvent>& events);

    State state = State::ground;
    // The sequence's one number, or -1; anything else in it makes it one the program ignores.
    int csi_number = -1;
    bool csi_other = false;
    bool focused = true;
    // A bracketed paste, kept up to MAX_PASTE_BYTES, and how many bytes it had.
    std::string pasted;
    std::size_t pasted_total = 0;
};

// Lines read from a pipe or a file: every printable byte is typed as its key, every line
// end is Enter. Other bytes have no key in the window and are dropped.
class LineDecoder {
  public:
    void feed(std::string_view bytes, std::vector<WindowEvent>& events);
    // At the end of the input a last line without its line end is still entered.
    void finish(std::vector<WindowEvent>& events);

  private:
    bool line_open = false;
};

}  // namespace tw
