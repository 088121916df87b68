// The program: one window on the X display, and its frame loop.

#include <cstdio>
#include <string>
#include <string_view>

#include "chat/chat_app.h"
#include "net/net_node.h"
#include "ui/app_shell.h"
#include "ui/command_line.h"
#include "ui/key_guide.h"
#include "ui/x11/x_window_system.h"

namespace {

constexpr const char* WINDOW_TITLE = "Tamblewick";
constexpr int WINDOW_SIZE = 250;
constexpr std::string_view DESCRIPTION{
    "Chat with people on the local network in one small X11 window: type serve to become\n"
    "the server, or nick NAME and then connect HOST to join one.\n"};

}  // namespace

int main(int argc, char** argv) {
    // Asking for help must work without a display, and must not start a chat.
    const std::string keys = tw::key_guide_text(tw::FrontEnd::window);
    const tw::ProgramUsage usage{"tamblewick", DESCRIPTION, keys};
    if (const auto status = tw::answer_command_line(argc, argv, usage, stdout, stderr)) {
        return *status;
    }
    tw::AppObjects objects;
    tw::net_startup(objects.net_node);

    tw::XWindowSystem window;
    if (!window.open(WINDOW_TITLE, WINDOW_SIZE, WINDOW_SIZE)) {
        std::fprintf(stderr, "tamblewick: %s\n", window.failure().c_str());
        return 1;
    }
    // A lost X server still lets every peer know at once instead of by time-out; the
    // normal way out has closed the socket already by the time the display goes.
    window.on_display_lost([&objects] {
        if (objects.net_node.endpoint().is_open()) {
            tw::net_shutdown(objects.net_node);
        }
    });
    tw::AppShell shell{window, objects};
    return shell.run();
}
