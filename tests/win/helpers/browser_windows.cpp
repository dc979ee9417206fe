// Top-level windows standing in for browser windows, for the caption search of the launcher.
//   browser_windows STOPFILE SECONDS WINDOW...
// WINDOW is "v:CAPTION" for a visible window, "t:CAPTION" for a visible one that stays on top of
// all others, or "h:CAPTION" for a hidden one (the caption may be empty or blank). Windows are made
// in the given order, each shown above the ones before, so the last visible one is on top. Prints
// "ready" once all exist, then keeps them until STOPFILE exists or SECONDS have passed.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "util/unique_handle.h"

namespace {

const wchar_t k_class[] = L"FenwaBrowserStandIn";

struct window_traits {
    using pointer = HWND;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::DestroyWindow(h); }
};
using unique_hwnd = unique_handle<window_traits>;

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4)
        return 2;
    const std::wstring stop_file = argv[1];
    const DWORD limit = static_cast<DWORD>(_wtoi(argv[2])) * 1000;

    WNDCLASSW wc = {};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = k_class;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    if (!::RegisterClassW(&wc))
        return 1;

    std::vector<unique_hwnd> windows;
    int offset = 0;
    for (int i = 3; i < argc; ++i) {
        const std::wstring window = argv[i];
        if (window.size() < 2 || window[1] != L':')
            return 2;
        HWND hwnd = ::CreateWindowExW(0, k_class, window.substr(2).c_str(), WS_OVERLAPPEDWINDOW,
                                      40 + offset, 40 + offset, 320, 200, nullptr, nullptr,
                                      wc.hInstance, nullptr);
        if (!hwnd)
            return 1;
        windows.emplace_back(hwnd);
        offset += 30;
        if (window[0] == L'v' || window[0] == L't') {
            ::ShowWindow(hwnd, SW_SHOW);
            ::SetWindowPos(hwnd, window[0] == L't' ? HWND_TOPMOST : HWND_TOP, 0, 0, 0, 0,
                           SWP_NOMOVE | SWP_NOSIZE);
        }
    }
    std::printf("ready\n");
    std::fflush(stdout);

    const DWORD start = ::GetTickCount();
    while (::GetFileAttributesW(stop_file.c_str()) == INVALID_FILE_ATTRIBUTES &&
           ::GetTickCount() - start < limit) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    return 0;
}
