#include <gtest/gtest.h>

#include "util/system_library_win.h"

#include <cwctype>
#include <string>

#include "util/unique_handle.h"

// Delay-loaded from a library that exists nowhere (see the Makefile); never called.
extern "C" void WINAPI fenwa_absent_function();

namespace {

std::wstring lower(std::wstring s) {
    for (wchar_t& c : s)
        c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

std::wstring module_path(HMODULE module) {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(module, path, MAX_PATH);
    return lower(std::wstring(path, n < MAX_PATH ? n : 0));
}

std::wstring system_folder() {
    wchar_t path[MAX_PATH];
    const UINT n = ::GetSystemDirectoryW(path, MAX_PATH);
    return lower(std::wstring(path, n < MAX_PATH ? n : 0));
}

} // namespace

TEST(SystemLibrary, LoadsFromTheSystemFolderOnly) {
    // Both ways: with the search flag, and by full path as on a Windows 7 without the update.
    for (auto load : {&load_system_library, &load_system_library_by_path}) {
        unique_hmodule version(load(L"version.dll", 0));
        ASSERT_TRUE(version);
        EXPECT_EQ(system_folder() + L"\\version.dll", module_path(version.get()));
        unique_hmodule data(load(L"wininet.dll", LOAD_LIBRARY_AS_DATAFILE));
        EXPECT_TRUE(data);

        // Only a bare name: anything that names a folder or a drive is refused before loading.
        for (const wchar_t* name :
             {L"", L"C:\\windows\\system32\\version.dll", L"..\\version.dll", L"sub/version.dll",
              L"C:version.dll", L"\\\\server\\s\\x.dll"}) {
            ::SetLastError(0);
            unique_hmodule refused(load(name, 0));
            EXPECT_FALSE(refused) << name;
            EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ::GetLastError()) << name;
        }
        unique_hmodule missing(load(L"fenwa_absent.dll", 0));
        EXPECT_FALSE(missing);
    }
    // A name that cannot fit in a path is refused, not cut short.
    const std::wstring long_name = std::wstring(300, L'a') + L".dll";
    unique_hmodule too_long(load_system_library_by_path(long_name.c_str()));
    EXPECT_FALSE(too_long);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), ::GetLastError());
}

TEST(SystemLibrary, BindingDelayImportsNamesTheFirstThatFails) {
    // Keeps the absent library's import in this program.
    volatile auto keep = &fenwa_absent_function;
    (void)keep;

    // The system libraries bind (it stops at the first failure), the absent one does not.
    wchar_t failed[MAX_PATH] = L"x";
    EXPECT_FALSE(bind_delay_imports(failed, MAX_PATH));
    EXPECT_STREQ(L"fenwa_absent.dll", failed);
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    ASSERT_NE(nullptr, user32);
    EXPECT_EQ(system_folder() + L"\\user32.dll", module_path(user32));

    // A short buffer is cut and terminated, never overrun.
    wchar_t small[5] = {L'x', L'x', L'x', L'x', L'#'};
    EXPECT_FALSE(bind_delay_imports(small, 4));
    EXPECT_STREQ(L"fen", small);
    EXPECT_EQ(L'#', small[4]);

    EXPECT_FALSE(bind_delay_imports(nullptr, 0));
}
