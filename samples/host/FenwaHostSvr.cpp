// FenwaHostSvr.exe: a stand-in for the product's remote-control host program, for tests and
// the demo only. It does no remote control at all; it only shows that it was started the way
// the launcher starts the real host:
//   -u              asks every running copy to close, then exits
//   -i [PARAM]      shows a small window titled "FenwaHostSvr" with PARAM until closed
// Every start appends one UTF-8 line to FenwaHostSvr.starts.log beside the executable: the
// local time with milliseconds and the whole command line after the program name.
// For tests: "--exit-after SECONDS" or FENWA_HOST_EXIT_AFTER closes the window by itself.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "util/unique_handle.h"

namespace {

const wchar_t k_class[] = L"FenwaHostSvrStandIn";
const wchar_t k_title[] = L"FenwaHostSvr";
const int k_param_id = 1001;
const UINT_PTR k_exit_timer = 1;

struct local_free_traits {
    using pointer = LPWSTR*;
    static pointer invalid() noexcept { return nullptr; }
    static void close(pointer p) noexcept { ::LocalFree(p); }
};
using unique_argv = unique_handle<local_free_traits>;

std::string to_utf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n,
                          nullptr, nullptr);
    return out;
}

std::wstring exe_folder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0)
            return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// The command line after the program name, as the process received it, with the usual rule
// for the first token: quoted up to the next quote, otherwise up to the first blank.
std::wstring arguments_text() {
    const wchar_t* p = ::GetCommandLineW();
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"')
            ++p;
        if (*p == L'"')
            ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t')
            ++p;
    }
    while (*p == L' ' || *p == L'\t')
        ++p;
    return p;
}

void record_start() {
    SYSTEMTIME t{};
    ::GetLocalTime(&t);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u ", t.wYear, t.wMonth,
                  t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    const std::string line = stamp + to_utf8(arguments_text()) + "\r\n";
    const std::wstring path = exe_folder() + L"\\FenwaHostSvr.starts.log";
    // "-u" and "-i" start one second apart and a test may start more: each line goes out in
    // one appending write, and a copy that meets the file locked waits a moment and retries.
    for (int attempt = 0; attempt < 50; ++attempt) {
        unique_hfile file(::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) {
            DWORD written = 0;
            ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written,
                        nullptr);
            return;
        }
        if (::GetLastError() != ERROR_SHARING_VIOLATION)
            return;
        ::Sleep(20);
    }
}

BOOL CALLBACK close_copy(HWND hwnd, LPARAM count) {
    wchar_t name[64] = {};
    ::GetClassNameW(hwnd, name, 64);
    if (std::wcscmp(name, k_class) == 0) {
        ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
        ++*reinterpret_cast<int*>(count);
    }
    return TRUE;
}

int stop_running_copies() {
    int count = 0;
    ::EnumWindows(close_copy, reinterpret_cast<LPARAM>(&count));
    return count;
}

LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_TIMER:
        if (wparam == k_exit_timer)
            ::DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        ::PostQuitMessage(0);
        return 0;
    default:
        return ::DefWindowProcW(hwnd, msg, wparam, lparam);
    }
}

int show_window(HINSTANCE instance, const std::wstring& param, int exit_after) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = window_proc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = k_class;
    if (!::RegisterClassExW(&wc))
        return 3;
    HWND hwnd = ::CreateWindowExW(0, k_class, k_title, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 380, 150, nullptr, nullptr,
                                  instance, nullptr);
    if (!hwnd)
        return 3;
    ::CreateWindowExW(0, L"STATIC", L"Stand-in host program (test build)", WS_CHILD | WS_VISIBLE,
                      12, 12, 340, 20, hwnd, nullptr, instance, nullptr);
    // The parameter alone in its own control, so that a test can read it back exactly.
    ::CreateWindowExW(0, L"STATIC", param.c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX, 12, 44, 340,
                      20, hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(k_param_id)), instance,
                      nullptr);
    if (exit_after > 0)
        ::SetTimer(hwnd, k_exit_timer, static_cast<UINT>(exit_after) * 1000, nullptr);
    ::ShowWindow(hwnd, SW_SHOWNORMAL);
    ::UpdateWindow(hwnd);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return 0;
}

int env_seconds(const wchar_t* name) {
    wchar_t value[32] = {};
    const DWORD n = ::GetEnvironmentVariableW(name, value, 32);
    return n > 0 && n < 32 ? _wtoi(value) : 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    record_start();

    int argc = 0;
    unique_argv argv(::CommandLineToArgvW(::GetCommandLineW(), &argc));
    if (!argv)
        return 2;
    LPWSTR* args = argv.get();

    int exit_after = env_seconds(L"FENWA_HOST_EXIT_AFTER");
    bool stop = false, run = false;
    std::wstring param;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = args[i];
        if (arg == L"--exit-after" && i + 1 < argc) {
            exit_after = _wtoi(args[++i]);
        } else if (arg == L"-u") {
            stop = true;
        } else if (arg == L"-i") {
            run = true;
            // The parameter is optional: "-i" alone starts without one.
            if (i + 1 < argc && std::wstring(args[i + 1]) != L"--exit-after")
                param = args[++i];
        }
    }
    if (stop) {
        stop_running_copies();
        return 0;
    }
    if (run)
        return show_window(instance, param, exit_after);
    return 2;
}
