#include "util/system_library_win.h"

#include <delayimp.h>

#include <cstdint>

#include "util/unique_handle.h"

// dlltool's delay-load import libraries put their descriptors in sections named ".text$2",
// and the linker orders ".text$..." sections by name, so these two markers enclose them all
// (GNU ld leaves the header's delay-import directory empty). The end marker is a descriptor
// of zeros, which ends the list as in the header's table.
asm(".section .text$1z,\"dr\"\n"
    ".p2align 4\n"
    "fenwa_delay_descriptors_begin:\n"
    ".section .text$2z,\"dr\"\n"
    ".p2align 4\n"
    "fenwa_delay_descriptors_end:\n"
    ".zero 32\n"
    ".text\n");
extern "C" const ImgDelayDescr fenwa_delay_descriptors_begin[];
extern "C" const ImgDelayDescr fenwa_delay_descriptors_end[];
extern "C" IMAGE_DOS_HEADER __ImageBase;

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

size_t append_ascii(wchar_t* to, size_t at, size_t len, const char* text) {
    for (; text && *text && at + 1 < len; ++text)
        to[at++] = static_cast<wchar_t>(static_cast<unsigned char>(*text));
    if (at < len)
        to[at] = L'\0';
    return at;
}

void note_failure(wchar_t* failed, size_t len, const char* dll, const char* function) {
    if (!failed || len == 0)
        return;
    size_t at = append_ascii(failed, 0, len, dll);
    if (function) {
        at = append(failed, at, len, L"!");
        append_ascii(failed, at, len, function);
    }
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

bool restrict_library_search() {
    const set_default_dll_directories_fn set_default = set_default_dll_directories();
    if (set_default && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return true;
    // Only when the above is missing: children inherit this setting, and with the default
    // directories set it would change nothing in this process.
    ::SetDllDirectoryW(L"");
    return false;
}

bool bind_delay_imports(wchar_t* failed, size_t failed_len) {
    if (failed && failed_len)
        failed[0] = L'\0';
    auto* base = reinterpret_cast<BYTE*>(&__ImageBase);
    const auto end = reinterpret_cast<uintptr_t>(fenwa_delay_descriptors_end);
    for (auto at = reinterpret_cast<uintptr_t>(fenwa_delay_descriptors_begin); at < end;
         at += sizeof(ImgDelayDescr)) {
        const auto* d = reinterpret_cast<const ImgDelayDescr*>(at);
        if (!d->rvaDLLName)
            break;
        const char* dll = reinterpret_cast<const char*>(base + d->rvaDLLName);
        if (!(d->grAttrs & dlattrRva)) {
            note_failure(failed, failed_len, dll, nullptr);
            return false;
        }
        wchar_t wide[MAX_PATH];
        append_ascii(wide, 0, MAX_PATH, dll);
        unique_hmodule module(load_system_library(wide));
        if (!module) {
            note_failure(failed, failed_len, dll, nullptr);
            return false;
        }
        auto* iat = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->rvaIAT);
        const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + d->rvaINT);
        for (size_t i = 0; names[i].u1.AddressOfData; ++i) {
            const char* function = nullptr;
            FARPROC proc = nullptr;
            if (IMAGE_SNAP_BY_ORDINAL(names[i].u1.Ordinal)) {
                proc =
                    ::GetProcAddress(module.get(), reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(
                                                       IMAGE_ORDINAL(names[i].u1.Ordinal))));
            } else {
                const auto* by_name =
                    reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names[i].u1.AddressOfData);
                function = reinterpret_cast<const char*>(by_name->Name);
                proc = ::GetProcAddress(module.get(), function);
            }
            if (!proc) {
                note_failure(failed, failed_len, dll, function ? function : "#ordinal");
                // Entries written above point into it.
                (void)module.release();
                return false;
            }
            iat[i].u1.Function = reinterpret_cast<ULONG_PTR>(proc);
        }
        // What the delay-load helper checks first: with the module in place it never
        // searches for the library itself.
        *reinterpret_cast<HMODULE*>(base + d->rvaHmod) = module.release();
    }
    return true;
}
