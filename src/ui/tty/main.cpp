// The program on a terminal: the same chat, console and frame loop as the window, with
// the terminal's rows in place of the window (stdin and stdout both terminals), or with
// lines in and lines out when either is a pipe, a file or nothing at all.

#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "chat/chat_app.h"
#include "net/net_node.h"
#include "ui/app_shell.h"
#include "ui/command_line.h"
#include "ui/key_guide.h"
#include "ui/tty/line_window_system.h"
#include "ui/tty/signal_watch.h"
#include "ui/tty/tty_window_system.h"

namespace {

constexpr std::string_view DESCRIPTION{
    "Chat with people on the local network in a terminal, or with lines in and out when\n"
    "standard input or output is not a terminal: echo serve | tamblewick-tty is a\n"
    "headless server.\n"};

}  // namespace

int main(int argc, char** argv) {
    const std::string keys = tw::key_guide_text(tw::FrontEnd::terminal);
    const tw::ProgramUsage usage{"tamblewick-tty", DESCRIPTION, keys};
    if (const auto status = tw::answer_command_line(argc, argv, usage, stdout, stderr)) {
        return *status;
    }
    // Only to learn the terminal's character set; texts stay single bytes inside.
    std::setlocale(LC_CTYPE, "");
    const tw::TextEncoding encoding = tw::locale_text_encoding();
    const tw::ColourMode colours =
        tw::colour_mode(std::getenv("NO_COLOR"), std::getenv("COLORTERM"));
    const bool input_is_terminal = isatty(STDIN_FILENO) == 1;
    const bool output_is_terminal = isatty(STDOUT_FILENO) == 1;

    if (!tw::SignalWatch::install()) {
        std::fprintf(stderr, "tamblewick-tty: cannot watch signals: %s\n", std::strerror(errno));
        return 1;
    }
    tw::AppObjects objects;
    tw::net_startup(objects.net_node);

    if (input_is_terminal && output_is_terminal) {
        tw::TtyWindowSystem screen{colours, encoding};
        if (!screen.open()) {
            std::fprintf(stderr, "tamblewick-tty: %s\n", screen.failure().c_str());
            return 1;
        }
        tw::AppShell shell{screen, objects};
        return shell.run();
    }
    tw::LineWindowSystem lines{objects.chat_log, [&objects] { return tw::on_the_way_in(objects); },
                               output_is_terminal ? colours : tw::ColourMode::none, encoding,
                               input_is_terminal};
    tw::AppShell shell{lines, objects};
    return shell.run();
}
