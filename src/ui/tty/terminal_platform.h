#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

#include "ui/window_system.h"

namespace tw {

// A surface that keeps nothing: a terminal puts the console's rows on its own rows.
class NullSurface final : public TextSurface {
  public:
    void draw_text(int, int, Rgb, std::string_view) override {}
    void fill_rect(int, int, int, int, Rgb) override {}
    int advance(unsigned char) override { return 1; }
};

// What both terminal front ends share: events from stdin and from signals, and a wait
// that sleeps on stdin, the socket and the signal pipe until the frame loop's deadline.
class TerminalPlatform : public WindowSystem {
  public:
    std::optional<WindowEvent> next_event() override;
    void wait(std::intptr_t socket, int timeout_ms) override;
    // There is no menu to draw: Ctrl+C, Ctrl+D and the close signals are File > Exit.
    bool wants_menu_strip() const override { return false; }

  protected:
    // The bytes of one read of stdin, as events.
    virtual void decode(std::string_view bytes, std::vector<WindowEvent>& events) = 0;
    // Stdin has ended; it is not watched any more.
    virtual void end_of_input(std::vector<WindowEvent>& events) = 0;
    // True while typed input must wait; signals still come through meanwhile.
    virtual bool input_held() { return false; }
    virtual void resized() {}
    virtual void resumed() {}

  private:
    void read_input();

    std::deque<WindowEvent> pending;
    bool input_open = true;
    bool input_ready = false;
};

}  // namespace tw
