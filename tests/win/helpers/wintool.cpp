// Looks at and drives the windows of other programs for the scenario tests.
//   wintool list                   visible top-level windows: handle, class, caption
//   wintool dump CAPTION           the children (id, visible, class, text) of the window with that
//                                  caption ("#HEX" instead of a caption names a window handle)
//   wintool command CAPTION ID     posts WM_COMMAND ID to it (a button press)
//   wintool wait CAPTION SECONDS   waits until such a window is visible; exit 1 on time-out
//   wintool post HANDLE ID         posts WM_COMMAND ID to a window given by its handle (hex)
//   wintool state CAPTION ID       "visible enabled focused" (0/1 each), a tab and the text of
//                                  control ID (0: the window itself)
//   wintool rect CAPTION ID        the control's screen rectangle: left top right bottom
//   wintool gone CAPTION SECONDS   waits until no such window is visible; exit 1 on time-out
// Output is UTF-8.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

void put(const std::wstring& text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n,
                          nullptr, nullptr);
    std::fwrite(out.data(), 1, out.size(), stdout);
}

std::wstring text_of(HWND hwnd) {
    wchar_t buffer[4096] = {};
    // WM_GETTEXT works across processes where GetWindowText would not for child controls.
    ::SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer),
                          SMTO_ABORTIFHUNG, 2000, nullptr);
    return buffer;
}

std::wstring class_of(HWND hwnd) {
    wchar_t buffer[256] = {};
    ::GetClassNameW(hwnd, buffer, 256);
    return buffer;
}

struct search {
    std::wstring caption;
    HWND found = nullptr;
};

BOOL CALLBACK find_top(HWND hwnd, LPARAM lparam) {
    auto* s = reinterpret_cast<search*>(lparam);
    if (::IsWindowVisible(hwnd) && text_of(hwnd) == s->caption) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// "#HEX" names a window by its handle, anything else by its caption.
HWND find(const std::wstring& caption) {
    if (!caption.empty() && caption[0] == L'#') {
        HWND hwnd = reinterpret_cast<HWND>(
            static_cast<uintptr_t>(wcstoull(caption.c_str() + 1, nullptr, 16)));
        return ::IsWindow(hwnd) ? hwnd : nullptr;
    }
    search s{caption};
    ::EnumWindows(find_top, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

BOOL CALLBACK list_top(HWND hwnd, LPARAM) {
    if (::IsWindowVisible(hwnd)) {
        wchar_t line[64];
        std::swprintf(line, 64, L"%p\t", static_cast<void*>(hwnd));
        put(line + class_of(hwnd) + L"\t" + text_of(hwnd) + L"\n");
    }
    return TRUE;
}

BOOL CALLBACK list_child(HWND hwnd, LPARAM) {
    wchar_t line[64];
    std::swprintf(line, 64, L"%d\t%d\t", ::GetDlgCtrlID(hwnd), ::IsWindowVisible(hwnd) ? 1 : 0);
    put(line + class_of(hwnd) + L"\t" + text_of(hwnd) + L"\n");
    return TRUE;
}

// The control with that id, or the window itself for id 0.
HWND control_of(HWND window, int id) {
    return id == 0 ? window : ::GetDlgItem(window, id);
}

// Which window of the other thread has the keyboard focus.
HWND focus_of(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

bool wait_until(const std::wstring& caption, bool visible, DWORD limit_ms) {
    const DWORD start = ::GetTickCount();
    while ((find(caption) != nullptr) != visible) {
        if (::GetTickCount() - start > limit_ms)
            return false;
        ::Sleep(50);
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 2;
    const std::wstring verb = argv[1];
    if (verb == L"list") {
        ::EnumWindows(list_top, 0);
        return 0;
    }
    if (argc < 3)
        return 2;
    if (verb == L"post" && argc > 3) {
        HWND target =
            reinterpret_cast<HWND>(static_cast<uintptr_t>(wcstoull(argv[2], nullptr, 16)));
        if (!::IsWindow(target))
            return 1;
        ::PostMessageW(target, WM_COMMAND, MAKEWPARAM(_wtoi(argv[3]), BN_CLICKED), 0);
        return 0;
    }
    if (verb == L"wait" || verb == L"gone") {
        const DWORD limit = argc > 3 ? static_cast<DWORD>(_wtoi(argv[3])) * 1000 : 10000;
        return wait_until(argv[2], verb == L"wait", limit) ? 0 : 1;
    }
    HWND hwnd = find(argv[2]);
    if (!hwnd)
        return 1;
    if (verb == L"dump") {
        ::EnumChildWindows(hwnd, list_child, 0);
        return 0;
    }
    if (verb == L"state" && argc > 3) {
        HWND control = control_of(hwnd, _wtoi(argv[3]));
        if (!control)
            return 1;
        wchar_t flags[32];
        std::swprintf(flags, 32, L"%d %d %d\t", ::IsWindowVisible(control) ? 1 : 0,
                      ::IsWindowEnabled(control) ? 1 : 0, focus_of(hwnd) == control ? 1 : 0);
        put(flags + text_of(control) + L"\n");
        return 0;
    }
    if (verb == L"rect" && argc > 3) {
        HWND control = control_of(hwnd, _wtoi(argv[3]));
        RECT r = {};
        if (!control || !::GetWindowRect(control, &r))
            return 1;
        wchar_t line[96];
        std::swprintf(line, 96, L"%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
        put(line);
        return 0;
    }
    if (verb == L"command" && argc > 3) {
        ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(_wtoi(argv[3]), BN_CLICKED), 0);
        return 0;
    }
    return 2;
}
