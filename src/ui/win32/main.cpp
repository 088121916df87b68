// The program on Windows: one window with the native menu, and the shared frame loop.

#include <windows.h>
#include <winsock2.h>

#include <cstdio>

#include "chat/chat_app.h"
#include "net/net_node.h"
#include "ui/app_shell.h"
#include "ui/win32/win32_window_system.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show_mode) {
    tw::AppObjects objects;
    tw::net_startup(objects.net_node);

    tw::Win32WindowSystem window;
    if (!window.open(instance, show_mode)) {
        std::fprintf(stderr, "tamblewick: %s\n", window.failure().c_str());
        return 1;
    }
    tw::AppShell shell{window, objects};
    return shell.run();
}
