#pragma once
// Libraries come from the system folder only. The launcher is first run from a Downloads
// folder, where a web page may have left a DLL under a system DLL's name; elevated, that
// DLL would run as administrator.
#include <windows.h>

#include <cstddef>

// LoadLibraryExW of a bare name ("version.dll") from the system folder; flags are added,
// e.g. LOAD_LIBRARY_AS_DATAFILE. Without the loader update that brings
// LOAD_LIBRARY_SEARCH_SYSTEM32 to Windows 7 (KB2533623) it is load_system_library_by_path.
// The caller owns the reference; nullptr with GetLastError() on failure, and
// ERROR_INVALID_PARAMETER for a name with a folder or drive in it.
HMODULE load_system_library(const wchar_t* name, DWORD flags = 0);

// The same by the full path in the system folder, with the library's own imports looked for
// in its folder first (LOAD_WITH_ALTERED_SEARCH_PATH).
HMODULE load_system_library_by_path(const wchar_t* name, DWORD flags = 0);
