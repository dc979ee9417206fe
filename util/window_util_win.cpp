#include "util/window_util_win.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "util/system_library_win.h"
#include "util/text_util.h"
#include "util/text_util_win.h"
#include "util/unique_handle.h"

namespace {

constexpr DWORD k_wininet_first = 12000;
constexpr DWORD k_wininet_last = 12174;

// GetWindow walks can loop when windows come and go during the walk.
constexpr int k_max_windows = 100000;
// Longer captions are compared by their start, which holds any browser title prefix.
constexpr int k_max_caption = 1024;

// GetWindowText, unlike GetWindowTextLength, does not wait on a window of another process
// that has stopped answering messages: a hung window must not stall the search.
std::wstring window_caption(HWND hwnd) {
    wchar_t buffer[k_max_caption] = {};
    const int got = ::GetWindowTextW(hwnd, buffer, k_max_caption);
    return std::wstring(buffer, got > 0 ? std::min<size_t>(got, k_max_caption - 1) : 0);
}

std::wstring message_from(DWORD flags, HMODULE module, DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n =
        ::FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                         module, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    unique_hlocal owner(text);
    if (n == 0 || !text)
        return std::wstring();
    return trim(std::wstring(text, n));
}

// Texts for WinINet codes whose message some WinINet builds (Wine's among them) lack.
const wchar_t* wininet_fallback(DWORD code) {
    switch (code) {
    case 12002:
        return L"The operation timed out";
    case 12007:
        return L"The server name or address could not be resolved";
    case 12029:
        return L"A connection with the server could not be established";
    case 12030:
        return L"The connection with the server was terminated abnormally";
    case 12037:
        return L"The date in the certificate is invalid or has expired";
    case 12038:
        return L"The host name in the certificate is invalid or does not match";
    case 12044:
        return L"The server requested a client certificate";
    case 12045:
        return L"The certificate authority is invalid or incorrect";
    case 12057:
        return L"The revocation of the certificate could not be checked";
    case 12157:
        return L"An error occurred in the secure channel support";
    default:
        return nullptr;
    }
}

} // namespace

// The walk starts at the topmost window itself: a browser that happens to be on top must
// not be passed over. The launcher's own windows are what starting below the top used to
// skip, so they are left out by their process instead.
HWND find_window_by_title(const std::wstring& text, bool exact) {
    const DWORD own_process = ::GetCurrentProcessId();
    HWND next = ::GetTopWindow(nullptr);
    for (int i = 0; next && i < k_max_windows; ++i) {
        HWND hwnd = next;
        next = ::GetWindow(hwnd, GW_HWNDNEXT);
        if (!::IsWindowVisible(hwnd))
            continue;
        DWORD process = 0;
        ::GetWindowThreadProcessId(hwnd, &process);
        if (process == own_process)
            continue;
        const std::wstring caption = trim(window_caption(hwnd));
        if (caption.empty())
            continue;
        if (exact ? caption == text : caption.find(text) != std::wstring::npos)
            return hwnd;
    }
    return nullptr;
}

void wait_with_messages(DWORD ms) {
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // Swallowing the quit request would keep the caller's loop alive.
                ::PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        if (elapsed >= ms)
            return;
        // Wakes for the next message instead of spinning; nothing queued waits longer.
        ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(ms - elapsed), QS_ALLINPUT,
                                      MWMO_INPUTAVAILABLE);
    }
}

std::wstring get_error_text(DWORD code) {
    if (code >= k_wininet_first && code <= k_wininet_last) {
        HMODULE wininet = ::GetModuleHandleW(L"wininet.dll");
        unique_hmodule loaded; // only when nothing else has loaded WinINet yet
        if (!wininet) {
            loaded.reset(load_system_library(L"wininet.dll", LOAD_LIBRARY_AS_DATAFILE));
            wininet = loaded.get();
        }
        std::wstring text =
            wininet ? message_from(FORMAT_MESSAGE_FROM_HMODULE, wininet, code) : std::wstring();
        if (!text.empty())
            return text;
        const wchar_t* fallback = wininet_fallback(code);
        return fallback ? std::wstring(fallback) : format_text(L"WinINet error %u", code);
    }
    std::wstring text = message_from(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code);
    if (!text.empty())
        return text;
    // What the runtime's system error category says when the system has no text.
    return from_ansi(std::system_category().message(static_cast<int>(code)));
}

int get_windows_major_version() {
    using rtl_get_version_fn = LONG(WINAPI*)(OSVERSIONINFOW*);
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (!ntdll)
        return 0;
    // The detour through a generic function pointer keeps -Wcast-function-type quiet.
    const auto fn = reinterpret_cast<rtl_get_version_fn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(ntdll, "RtlGetVersion")));
    if (!fn)
        return 0;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (fn(&info) != 0)
        return 0;
    return static_cast<int>(info.dwMajorVersion);
}
