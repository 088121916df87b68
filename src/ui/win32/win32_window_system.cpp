#include "ui/win32/win32_window_system.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>

#include "ui/latin1_text.h"
#include "ui/menu_ids.h"
#include "ui/pasted_lines.h"

namespace tw {

namespace {

constexpr const char* WINDOW_CLASS = "WINDOW_CLASS";
constexpr const char* WINDOW_TITLE = "Tamblewick";
constexpr int WINDOW_SIZE = 250;
constexpr WORD MENU_RESOURCE = TW_MENU_FILE;
constexpr WORD COMMAND_EXIT_ID = TW_COMMAND_EXIT;
constexpr WORD APP_ICON = TW_APP_ICON;

COLORREF colour_ref(Rgb rgb) {
    return RGB(rgb.r, rgb.g, rgb.b);
}

// Shift counts as held when any of the four upper bits of the state's low byte is set.
bool shift_held() {
    return (static_cast<unsigned>(GetKeyState(VK_SHIFT)) & 0xF0U) != 0;
}

bool held(int key) {
    return (static_cast<unsigned>(GetKeyState(key)) & 0x8000U) != 0;
}

// The keys that edit the line, recall lines and page through the history.
constexpr std::array<int, 12> KEYS{VK_BACK, VK_RETURN, VK_PRIOR,  VK_NEXT, VK_LEFT, VK_RIGHT,
                                   VK_HOME, VK_END,    VK_DELETE, VK_UP,   VK_DOWN, VK_ESCAPE};

}  // namespace

Win32WindowSystem::~Win32WindowSystem() {
    release();
    if (socket_event != nullptr) {
        WSACloseEvent(socket_event);
    }
}

bool Win32WindowSystem::fail(std::string reason) {
    failure_text = std::move(reason);
    release();
    return false;
}

bool Win32WindowSystem::open(HINSTANCE instance, int show_mode) {
    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = &Win32WindowSystem::window_procedure;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // the arrow
    // The icon of the resource script, for the title bar, the task bar and Alt+Tab.
    window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(APP_ICON));
    window_class.hIconSm = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(APP_ICON), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                   GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    window_class.lpszMenuName = MAKEINTRESOURCEA(MENU_RESOURCE);
    window_class.lpszClassName = WINDOW_CLASS;
    if (RegisterClassExA(&window_class) == 0) {
        return fail("cannot register the window class");
    }
    // The creation messages already reach the procedure, which finds this object
    // through the creation parameter.
    window = CreateWindowExA(0, WINDOW_CLASS, WINDOW_TITLE, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                             WINDOW_SIZE, WINDOW_SIZE, nullptr, nullptr, instance, this);
    if (window == nullptr) {
        return fail("cannot create the window");
    }
    window_dc = GetDC(window);
    make_picture();
    first_client_h = client_h;
    socket_event = WSACreateEvent();
    ShowWindow(window, show_mode);
    UpdateWindow(window);
    return true;
}

LRESULT CALLBACK Win32WindowSystem::window_procedure(HWND hwnd, UINT message, WPARAM wparam,
                                                     LPARAM lparam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32WindowSystem*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcA(hwnd, message, wparam, lparam);
    }
    return self->handle(hwnd, message, wparam, lparam);
}

LRESULT Win32WindowSystem::handle(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_KEYDOWN:
        case WM_KEYUP:
            if (message == WM_KEYDOWN) {
                keypad_key = wparam >= VK_NUMPAD0 && wparam <= VK_DIVIDE;
            }
            on_key(static_cast<int>(wparam), message == WM_KEYDOWN);
            return 0;
        case WM_CHAR: {
            // The character the layout made of the keys (AltGr and dead keys included), in
            // the ANSI code page, whose upper half holds the Latin-1 letters. Control
            // characters (Ctrl with a key, Backspace, Enter) type nothing here.
            const auto byte = static_cast<unsigned char>(wparam & 0xFFU);
            if (byte < 0x20 || byte == 0x7F || std::exchange(keypad_key, false)) {
                return 0;
            }
            // The code page's signs between the two halves (the euro among them) are not
            // Latin-1: no peer could be sent them, and the user is told.
            if (byte >= 0x80 && byte < 0xA0) {
                events.push_back(TextEvent{"", 1});
            } else {
                events.push_back(TextEvent{std::string(1, static_cast<char>(byte))});
            }
            return 0;
        }
        case WM_MOUSEWHEEL: {
            // Up, away from the user, is towards older lines; a fine wheel's part-notches
            // still move a line's worth each.
            const int delta = GET_WHEEL_DELTA_WPARAM(wparam);
            const int notches = delta / WHEEL_DELTA;
            events.push_back(WheelEvent{notches != 0 ? notches : (delta > 0 ? 1 : -1)});
            return 0;
        }
        case WM_COMMAND:
            if (LOWORD(wparam) == COMMAND_EXIT_ID) {
                events.push_back(CloseEvent{});
                return 0;
            }
            break;
        case WM_CLOSE:
            // The close box takes the same way out as "Exit": the frame loop says goodbye
            // to every peer before the window goes.
            events.push_back(CloseEvent{});
            return 0;
        case WM_DESTROY:
            if (!closing) {
                events.push_back(CloseEvent{});
            }
            window = nullptr;
            return 0;
        case WM_PAINT: {
            // Frames are drawn by the loop; a paint request only shows the last one again.
            PAINTSTRUCT paint;
            const HDC target = BeginPaint(hwnd, &paint);
            if (picture_dc != nullptr) {
                BitBlt(target, 0, 0, client_w, client_h, picture_dc, 0, 0, SRCCOPY);
            }
            EndPaint(hwnd, &paint);
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_SIZE:
            // The picture is made again at the new size by the next frame that draws.
            redraw_requested = true;
            break;
        default:
            break;
    }
    return DefWindowProcA(hwnd, message, wparam, lparam);
}

void Win32WindowSystem::make_picture() {
    RECT client{};
    GetClientRect(window, &client);
    client_w = client.right;
    client_h = client.bottom;
    picture_dc = CreateCompatibleDC(window_dc);
    picture = CreateCompatibleBitmap(window_dc, std::max(client_w, 1), std::max(client_h, 1));
    previous_bitmap = SelectObject(picture_dc, picture);
    previous_font = SelectObject(picture_dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(picture_dc, TRANSPARENT);
    if (GetCharWidth32A(picture_dc, 0, 255, advances.data()) == 0) {
        // Without widths every byte counts as one pixel: rows are then cut late, never
        // early.
        advances.fill(1);
    }
}

void Win32WindowSystem::release_picture() {
    if (picture_dc == nullptr) {
        return;
    }
    SelectObject(picture_dc, previous_font);
    SelectObject(picture_dc, previous_bitmap);
    DeleteDC(picture_dc);
    DeleteObject(picture);
    picture_dc = nullptr;
    picture = nullptr;
}

TextSurface& Win32WindowSystem::begin_frame() {
    RECT client{};
    GetClientRect(window, &client);
    if (client.right != client_w || client.bottom != client_h) {
        release_picture();
        make_picture();
    }
    fill_rect(0, 0, client_w, client_h, Rgb{0, 0, 0});
    return *this;
}

std::size_t Win32WindowSystem::log_rows() const {
    const int extra = std::max(0, client_h - first_client_h);
    return ChatLog::CAPACITY + static_cast<std::size_t>(extra / LINE_PITCH);
}

void Win32WindowSystem::ask_attention() {
    if (window == nullptr || GetForegroundWindow() == window) {
        return;
    }
    FLASHWINFO flash{};
    flash.cbSize = sizeof flash;
    flash.hwnd = window;
    flash.dwFlags = FLASHW_TRAY | FLASHW_TIMERNOFG;
    FlashWindowEx(&flash);
}

void Win32WindowSystem::set_title(const std::string& utf8) {
    if (window == nullptr) {
        return;
    }
    // Wide, so that the title's dashes and Latin-1 letters show whatever the code page.
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), size);
    wide.resize(static_cast<std::size_t>(std::max(length, 0)));
    SetWindowTextW(window, wide.c_str());
}

bool Win32WindowSystem::needs_redraw() {
    return std::exchange(redraw_requested, false);
}

void Win32WindowSystem::end_frame() {
    if (window != nullptr) {
        BitBlt(window_dc, 0, 0, client_w, client_h, picture_dc, 0, 0, SRCCOPY);
    }
}

void Win32WindowSystem::draw_text(int x, int y, Rgb colour, std::string_view text) {
    SetTextColor(picture_dc, colour_ref(colour));
    TextOutA(picture_dc, x, y, text.data(), static_cast<int>(text.size()));
}

int Win32WindowSystem::advance(unsigned char byte) {
    return std::max(advances[byte], 0);
}

void Win32WindowSystem::fill_rect(int x, int y, int width, int height, Rgb colour) {
    const RECT box{x, y, x + width, y + height};
    const HBRUSH brush = CreateSolidBrush(colour_ref(colour));
    FillRect(picture_dc, &box, brush);
    DeleteObject(brush);
}

void Win32WindowSystem::on_key(int code, bool down) {
    // AltGr is Ctrl and Alt together, and types characters: only Ctrl alone makes keys.
    const bool ctrl = held(VK_CONTROL) && !held(VK_MENU);
    if (down && ((ctrl && code == 'V') || (shift_held() && code == VK_INSERT))) {
        paste_clipboard();
        return;
    }
    // Keys that type characters arrive again as WM_CHAR, by the user's layout; only the
    // editing and paging keys, and keys held with Ctrl, are taken as keys.
    const bool letter = code >= 'A' && code <= 'Z';
    if (std::find(KEYS.begin(), KEYS.end(), code) != KEYS.end() || (ctrl && letter)) {
        events.push_back(KeyEvent{code, down, shift_held(), false, false, ctrl});
    }
}

void Win32WindowSystem::paste_clipboard() {
    if (OpenClipboard(window) == 0) {
        return;
    }
    // The ANSI code page's text, whose upper half holds the Latin-1 letters.
    std::string text;
    std::size_t total = 0;
    if (const HANDLE data = GetClipboardData(CF_TEXT); data != nullptr) {
        if (const auto* bytes = static_cast<const char*>(GlobalLock(data)); bytes != nullptr) {
            const std::size_t size = GlobalSize(data);
            total = strnlen(bytes, size);
            text.assign(bytes, std::min(total, MAX_PASTE_BYTES));
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    events.push_back(TextEvent{latin1_with_line_feeds(text)});
    if (total > text.size()) {
        events.push_back(NoticeEvent{"Pasted " + grouped_number(text.size()) + " of " +
                                     grouped_number(total) + " bytes"});
    }
}

std::optional<WindowEvent> Win32WindowSystem::next_event() {
    MSG message;
    while (events.empty() && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != 0) {
        if (message.message == WM_QUIT) {
            events.push_back(CloseEvent{});
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (events.empty()) {
        return std::nullopt;
    }
    WindowEvent event = events.front();
    events.pop_front();
    return event;
}

void Win32WindowSystem::watch_socket(std::intptr_t socket) {
    if (socket < 0 || socket_event == nullptr) {
        return;
    }
    // Selected again before every wait, not only when the handle changes: "connect"
    // closes the socket and opens a new one, which usually gets the old handle's number
    // back, and a new socket never selected would leave every datagram waiting for the
    // frame timer. Selecting also signals at once when a datagram is waiting already.
    WSAEventSelect(static_cast<SOCKET>(socket), socket_event, FD_READ);
}

void Win32WindowSystem::wait(std::intptr_t socket, int timeout_ms) {
    if (!events.empty()) {
        return;
    }
    watch_socket(socket);
    const DWORD handles = (socket >= 0 && socket_event != nullptr) ? 1 : 0;
    // MWMO_INPUTAVAILABLE also wakes for messages that arrived before this call, which a
    // plain wait would leave until the next one.
    const DWORD milliseconds = timeout_ms < 0 ? INFINITE : static_cast<DWORD>(timeout_ms);
    MsgWaitForMultipleObjectsEx(handles, &socket_event, milliseconds, QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
    if (handles != 0) {
        // Every receive that leaves data behind signals the event again, so the frame
        // that follows drains the socket and the next wait sees only new datagrams.
        WSAResetEvent(socket_event);
    }
}

void Win32WindowSystem::release() {
    release_picture();
    if (window != nullptr) {
        closing = true;
        if (window_dc != nullptr) {
            ReleaseDC(window, window_dc);
            window_dc = nullptr;
        }
        DestroyWindow(window);
        window = nullptr;
    }
}

}  // namespace tw
