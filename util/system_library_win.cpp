#include "util/system_library_win.h"

#include "util/unique_handle.h"

namespace {

// From the loader update KB2533623 on (always on Windows 8 and later); looked up, because a
// static import of it would keep the launcher from starting on a Windows 7 without it.
using set_default_dll_directories_fn = BOOL(WINAPI*)(DWORD);

set_default_dll_directories_fn set_default_dll_directories() {
    HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    if (!kernel32)
        return nullptr;
    // The detour through a generic function pointer keeps -Wcast-function-type quiet.
    return reinterpret_cast<set_default_dll_directories_fn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(kernel32, "SetDefaultDllDirectories")));
}

bool is_bare_name(const wchar_t* name) {
    if (!name || !*name)
        return false;
    for (const wchar_t* c = name; *c; ++c) {
        if (*c == L'\\' || *c == L'/' || *c == L':')
            return false;
    }
    return true;
}

// Copies at most `len` - 1 characters and always terminates; returns the new length.
size_t append(wchar_t* to, size_t at, size_t len, const wchar_t* text) {
    for (; text && *text && at + 1 < len; ++text)
        to[at++] = *text;
    if (at < len)
        to[at] = L'\0';
    return at;
}

} // namespace

HMODULE load_system_library(const wchar_t* name, DWORD flags) {
    if (!set_default_dll_directories())
        return load_system_library_by_path(name, flags);
    if (!is_bare_name(name)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return ::LoadLibraryExW(name, nullptr, flags | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE load_system_library_by_path(const wchar_t* name, DWORD flags) {
    if (!is_bare_name(name)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    size_t name_len = 0;
    while (name[name_len])
        ++name_len;
    wchar_t path[MAX_PATH];
    const UINT dir = ::GetSystemDirectoryW(path, MAX_PATH);
    if (dir == 0 || dir + 1 + name_len >= MAX_PATH) {
        ::SetLastError(dir == 0 ? ERROR_PATH_NOT_FOUND : ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    append(path, append(path, dir, MAX_PATH, L"\\"), MAX_PATH, name);
    // A full path is looked for only there; with the altered search path the library's own
    // imports are looked for in its folder first, not in the executable's.
    return ::LoadLibraryExW(path, nullptr, flags | LOAD_WITH_ALTERED_SEARCH_PATH);
}
