#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "ui/key_input.h"
#include "ui/window_system.h"

namespace tw {

// Turns the bytes a terminal in raw mode sends into the window's events. Escape sequences
// (cursor and function keys, Alt+key, bracketed paste markers, any string a terminal
// might answer with) are consumed whole and give nothing, also when a read splits them.
// Ctrl+C and Ctrl+D ask to close, as the window's close box does.
class KeyDecoder {
  public:
    // Decodes one read's worth of bytes. An Escape that ends a read is taken as the
    // Escape key alone, which does nothing: terminals send a sequence in one write.
    void feed(std::string_view bytes, std::vector<WindowEvent>& events);

  private:
    enum class State { ground, escape, csi, ss3, string, string_escape };

    void ground(char byte, std::vector<WindowEvent>& events);
    void step(char byte, std::vector<WindowEvent>& events);

    State state = State::ground;
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
