// A library planted beside the launcher under the name of one it loads. When the loader
// takes it, it leaves a marker named after itself ("version.dll.loaded") in the folder that
// FENWA_PLANT_MARKERS names, or beside itself; the marker holds the path of the program that
// loaded it, in UTF-16. It exports nothing, so a program that
// imports from it statically cannot start either. Built without the C runtime: only
// kernel32, which is safe under the loader lock.
#include <windows.h>

namespace {

constexpr DWORD k_path = 1024;

void append(wchar_t* to, DWORD& at, const wchar_t* from, const wchar_t* end) {
    for (; from != end && *from && at + 1 < k_path; ++from)
        to[at++] = *from;
    to[at] = L'\0';
}

// Static: attach runs once, under the loader lock, and the stack stays small without a runtime.
wchar_t own[k_path];
wchar_t marker[k_path];

void leave_marker(HINSTANCE self) {
    const DWORD own_len = ::GetModuleFileNameW(self, own, k_path);
    if (own_len == 0 || own_len >= k_path)
        return;
    const wchar_t* name = own + own_len;
    while (name > own && name[-1] != L'\\' && name[-1] != L'/')
        --name;

    DWORD at = ::GetEnvironmentVariableW(L"FENWA_PLANT_MARKERS", marker, k_path);
    if (at == 0 || at >= k_path) {
        at = 0;
        append(marker, at, own, name);
    } else if (marker[at - 1] != L'\\') {
        append(marker, at, L"\\", nullptr);
    }
    append(marker, at, name, nullptr);
    append(marker, at, L".loaded", nullptr);

    HANDLE h = ::CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    const DWORD program_len = ::GetModuleFileNameW(nullptr, own, k_path - 1);
    if (program_len > 0 && program_len < k_path - 1) {
        own[program_len] = L'\n';
        DWORD written = 0;
        ::WriteFile(h, own, (program_len + 1) * sizeof(wchar_t), &written, nullptr);
    }
    ::CloseHandle(h);
}

} // namespace

extern "C" BOOL WINAPI plant_entry(HINSTANCE self, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH)
        leave_marker(self);
    return TRUE;
}
