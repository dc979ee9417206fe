// Finds the launcher's windows for the screenshot scenarios and drives them.
//   screen_probe main                 the main window's screen rectangle "l t r b" (exit 1: none)
//   screen_probe child ID             a control of the main window, screen rectangle
//   screen_probe code                 the access-code dialog's screen rectangle
//   screen_probe code-child ID        a control of the access-code dialog, screen rectangle
//   screen_probe shadow               the drop shadow's rectangle (a window owned by the
//                                     access-code dialog)
//   screen_probe extent ID FACE POINTS WEIGHT
//                                     width and height of string ID (in the user's language)
//                                     in that font, and its ink width drawn
//   screen_probe about                opens the about box through the system-menu command
//   screen_probe about-rect           the about box's rectangle
//   screen_probe colours              system colours as "name r g b" lines
//   screen_probe work-area            the primary monitor's size and work area
//   screen_probe tray W H             shows a taskbar window (class Shell_TrayWnd) of W x H at
//                                     the bottom of the screen until killed
#include <windows.h>

#include <cstdio>
#include <string>

#include "util/dc_scope_win.h"
#include "util/draw_util_win.h"
#include "util/unique_handle.h"

namespace {

HWND g_found = nullptr;

BOOL CALLBACK find_main(HWND hwnd, LPARAM) {
    wchar_t cls[64] = {};
    ::GetClassNameW(hwnd, cls, 64);
    // The progress window is the dialog that holds the progress bar (control 1000).
    if (std::wstring(cls) == L"#32770" && ::IsWindowVisible(hwnd) && ::GetDlgItem(hwnd, 1000)) {
        g_found = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK find_code(HWND hwnd, LPARAM) {
    wchar_t cls[64] = {};
    ::GetClassNameW(hwnd, cls, 64);
    if (std::wstring(cls) == L"#32770" && ::IsWindowVisible(hwnd) && ::GetDlgItem(hwnd, 1011)) {
        g_found = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK find_owned(HWND hwnd, LPARAM owner) {
    if (::GetWindow(hwnd, GW_OWNER) == reinterpret_cast<HWND>(owner) && ::IsWindowVisible(hwnd)) {
        g_found = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK find_about(HWND hwnd, LPARAM) {
    wchar_t cls[64] = {};
    ::GetClassNameW(hwnd, cls, 64);
    if (std::wstring(cls) == L"#32770" && ::IsWindowVisible(hwnd) && ::GetDlgItem(hwnd, IDOK) &&
        !::GetDlgItem(hwnd, 1000) && ::GetWindow(hwnd, GW_OWNER)) {
        g_found = hwnd;
        return FALSE;
    }
    return TRUE;
}

HWND main_window() {
    g_found = nullptr;
    ::EnumWindows(find_main, 0);
    return g_found;
}

HWND code_dialog() {
    g_found = nullptr;
    ::EnumWindows(find_code, 0);
    return g_found;
}

// The text's advance in the font, and how wide its ink comes out drawn.
int print_extent(UINT id, const wchar_t* face, int points, int weight) {
    wchar_t text[512] = {};
    if (!::LoadStringW(::GetModuleHandleW(nullptr), id, text, 512))
        return 1;
    unique_memory_dc dc(::CreateCompatibleDC(nullptr));
    unique_hgdiobj bitmap;
    bitmap.reset(::CreateCompatibleBitmap(window_dc(nullptr).dc(), 1200, 100));
    LOGFONTW lf = {};
    lf.lfHeight = font_height_for_points(dc.get(), points);
    lf.lfWeight = weight;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    unique_hgdiobj font(::CreateFontIndirectW(&lf));
    if (!dc || !bitmap || !font)
        return 1;
    gdi_select_scope keep_bitmap(dc, bitmap.get());
    gdi_select_scope keep_font(dc, font.get());
    RECT all = {0, 0, 1200, 100};
    ::FillRect(dc.get(), &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    SIZE size = {};
    const int n = lstrlenW(text);
    ::GetTextExtentPoint32W(dc.get(), text, n, &size);
    ::TextOutW(dc.get(), 10, 10, text, n);
    int first = -1, last = -1;
    for (int x = 0; x < 1200; ++x)
        for (int y = 0; y < 100; ++y)
            if (::GetPixel(dc.get(), x, y) != RGB(255, 255, 255)) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
    std::printf("%ld %ld %d\n", size.cx, size.cy, first < 0 ? 0 : last - first + 1);
    return 0;
}

int print_rect(HWND hwnd) {
    if (!hwnd)
        return 1;
    RECT r;
    ::GetWindowRect(hwnd, &r);
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    return 0;
}

LRESULT CALLBACK tray_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_ERASEBKGND) {
        RECT r;
        ::GetClientRect(hwnd, &r);
        HBRUSH b = ::CreateSolidBrush(RGB(16, 16, 16));
        ::FillRect(reinterpret_cast<HDC>(wparam), &r, b);
        ::DeleteObject(b);
        return 1;
    }
    return ::DefWindowProcW(hwnd, message, wparam, lparam);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 2;
    const std::wstring verb = argv[1];
    if (verb == L"main")
        return print_rect(main_window());
    if (verb == L"child" && argc >= 3) {
        HWND main = main_window();
        return print_rect(main ? ::GetDlgItem(main, _wtoi(argv[2])) : nullptr);
    }
    if (verb == L"code")
        return print_rect(code_dialog());
    if (verb == L"code-child" && argc >= 3) {
        HWND dialog = code_dialog();
        return print_rect(dialog ? ::GetDlgItem(dialog, _wtoi(argv[2])) : nullptr);
    }
    if (verb == L"shadow") {
        HWND dialog = code_dialog();
        if (!dialog)
            return 1;
        g_found = nullptr;
        ::EnumWindows(find_owned, reinterpret_cast<LPARAM>(dialog));
        return print_rect(g_found);
    }
    if (verb == L"extent" && argc >= 6)
        return print_extent(static_cast<UINT>(_wtoi(argv[2])), argv[3], _wtoi(argv[4]),
                            _wtoi(argv[5]));
    if (verb == L"about") {
        HWND main = main_window();
        if (!main)
            return 1;
        ::PostMessageW(main, WM_SYSCOMMAND, 16, 0);
        return 0;
    }
    if (verb == L"about-rect") {
        g_found = nullptr;
        ::EnumWindows(find_about, 0);
        return print_rect(g_found);
    }
    if (verb == L"colours") {
        const struct {
            const char* name;
            int index;
        } colours[] = {{"btnface", COLOR_BTNFACE},     {"btntext", COLOR_BTNTEXT},
                       {"graytext", COLOR_GRAYTEXT},   {"activeborder", COLOR_ACTIVEBORDER},
                       {"btnshadow", COLOR_BTNSHADOW}, {"window", COLOR_WINDOW}};
        for (const auto& c : colours) {
            const COLORREF v = ::GetSysColor(c.index);
            std::printf("%s %d %d %d\n", c.name, GetRValue(v), GetGValue(v), GetBValue(v));
        }
        return 0;
    }
    if (verb == L"work-area") {
        RECT area;
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        std::printf("%d %d %ld %ld %ld %ld\n", ::GetSystemMetrics(SM_CXSCREEN),
                    ::GetSystemMetrics(SM_CYSCREEN), area.left, area.top, area.right, area.bottom);
        return 0;
    }
    if (verb == L"tray" && argc >= 4) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = tray_proc;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"Shell_TrayWnd";
        ::RegisterClassW(&wc);
        const int w = _wtoi(argv[2]), h = _wtoi(argv[3]);
        HWND tray = ::CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, L"Shell_TrayWnd", L"",
                                      WS_POPUP | WS_VISIBLE, 0, ::GetSystemMetrics(SM_CYSCREEN) - h,
                                      w, h, nullptr, nullptr, wc.hInstance, nullptr);
        if (!tray)
            return 1;
        std::printf("shown\n");
        std::fflush(stdout);
        MSG msg;
        while (::GetMessageW(&msg, nullptr, 0, 0) > 0)
            ::DispatchMessageW(&msg);
        return 0;
    }
    return 2;
}
