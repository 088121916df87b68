#pragma once

#include <functional>
#include <string>

#include "chat/chat_log.h"
#include "ui/text_surface.h"
#include "ui/tty/key_decoder.h"
#include "ui/tty/terminal_colour.h"
#include "ui/tty/terminal_platform.h"
#include "ui/tty/terminal_text.h"

namespace tw {

// The program without a screen, for pipes, scripts and services: each line of stdin is
// typed and entered, and each line added to the log is printed to stdout at once, as the
// window shows it. The end of piped input leaves the program running; the end of a
// terminal's input (Ctrl+D at the start of a line) closes it.
//
// A script types faster than a login is answered, and a chat line entered before the
// server has answered would not be sent. So while the client is on its way into a session
// (connecting, logging in, or logging in again after losing its server), further input
// lines wait.
class LineWindowSystem final : public TerminalPlatform {
  public:
    // Starts printing `log`'s new lines; colour is used only when stdout is a terminal.
    LineWindowSystem(ChatLog& log, std::function<bool()> on_the_way_in, ColourMode colours,
                     TextEncoding encoding, bool input_is_terminal);
    ~LineWindowSystem() override;
    LineWindowSystem(const LineWindowSystem&) = delete;
    LineWindowSystem& operator=(const LineWindowSystem&) = delete;

    TextSurface& begin_frame() override { return nothing; }
    int client_width() const override { return 0; }
    TextSurface& row_measure() override { return nothing; }
    // Nothing is put anywhere: the log reaches stdout line by line as it is added.
    bool puts_rows(const ConsoleRows&) override { return true; }
    // Nothing is drawn: the log reaches stdout line by line as it is added.
    bool needs_redraw() override { return false; }
    void end_frame() override {}
    void release() override;

    // One log line as printed: the window's text made safe, with its colour when wanted.
    static std::string printed_line(const LogLine& line, ColourMode colours, TextEncoding encoding);
    bool enters_whole_lines() const override { return true; }
    // Piped input (a script, the service's "serve") has no one to read the refusal.
    bool ends_when_serve_fails() const override { return !closes_at_end; }

  protected:
    void decode(std::string_view bytes, std::vector<WindowEvent>& events) override;
    void end_of_input(std::vector<WindowEvent>& events) override;
    bool input_held() override;

  private:
    ChatLog& chat_log;
    std::function<bool()> on_the_way_in;
    LineDecoder lines;
    NullSurface nothing;
    bool closes_at_end;
};

}  // namespace tw
