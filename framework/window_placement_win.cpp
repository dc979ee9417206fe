#include "framework/window_placement_win.h"

#include <shellapi.h>

#include "framework/framework_win.h"

void save_window_placement(HWND window, const std::wstring& prefix) {
    if (!window || !::IsWindowVisible(window) || ::IsIconic(window))
        return;
    CWinApp* app = CWinApp::current();
    if (!app)
        return;
    const std::wstring section = placement_section(prefix);
    const bool maximised = ::IsZoomed(window) != FALSE;
    app->WriteProfileInt(section.c_str(), L"maximized", maximised ? 1 : 0);
    if (maximised)
        return;
    RECT r;
    ::GetWindowRect(window, &r);
    app->WriteProfileInt(section.c_str(), L"left", r.left);
    app->WriteProfileInt(section.c_str(), L"top", r.top);
    app->WriteProfileInt(section.c_str(), L"right", r.right);
    app->WriteProfileInt(section.c_str(), L"bottom", r.bottom);
}

taskbar_info get_taskbar_info() {
    taskbar_info info;
    HWND taskbar = ::FindWindowW(L"Shell_TrayWnd", nullptr);
    if (!taskbar)
        return info;
    // The structure's own size: a 32-bit size would be refused by a 64-bit shell.
    APPBARDATA data = {};
    data.cbSize = sizeof(data);
    data.hWnd = taskbar;
    const UINT state = static_cast<UINT>(::SHAppBarMessage(ABM_GETSTATE, &data));
    RECT r;
    ::GetWindowRect(taskbar, &r);
    info.found = true;
    info.auto_hide = appbar_state_auto_hide(state);
    info.width = r.right - r.left;
    info.height = r.bottom - r.top;
    return info;
}

bool get_taskbar_state(SIZE& size) {
    const taskbar_info info = get_taskbar_info();
    if (!info.found)
        return false;
    size = {info.width, info.height};
    return info.auto_hide;
}

void adjust_min_max_info(MINMAXINFO& mmi) {
    int w = mmi.ptMaxSize.x;
    int h = mmi.ptMaxSize.y;
    adjust_max_size(get_taskbar_info(), w, h);
    mmi.ptMaxSize.x = w;
    mmi.ptMaxSize.y = h;
    mmi.ptMinTrackSize.x = 0;
    mmi.ptMinTrackSize.y = 0;
}
