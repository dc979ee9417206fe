#pragma once
// Libraries come from the system folder only. The launcher is first run from a Downloads
// folder, where a web page may have left a DLL under a system DLL's name; elevated, that
// DLL would run as administrator. Everything here uses only kernel32 and no C runtime, so
// that it can run at the process entry, before the runtime and any static object.
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

// Makes the system folder the process's whole default DLL search path
// (SetDefaultDllDirectories). Where that is missing (Windows 7 without KB2533623) it only
// takes the current folder out of the search (SetDllDirectoryW(L"")), and returns false:
// the executable's folder then stays in the standard search path.
bool restrict_library_search();

// Binds every delay-loaded import of this program as the loader binds static ones, but each
// library from the system folder: loads it, looks up each function and fills in its entry,
// so that a missing one shows at start rather than as an exception at its first call, and
// the delay-load helper never searches for a library itself. Returns true when all resolve;
// otherwise `failed` (when given) names the first that did not, as "name.dll" or
// "name.dll!Function". Not thread-safe: meant for the process entry.
bool bind_delay_imports(wchar_t* failed, size_t failed_len);
