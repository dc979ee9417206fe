// Holds a named mutex, as a running launcher does, until a stop file appears or a time-out.
//   hold_mutex NAME STOP_FILE SECONDS
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc < 4)
        return 2;
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, argv[1]);
    if (!mutex)
        return 3;
    std::printf("held\n");
    std::fflush(stdout);
    const DWORD limit = static_cast<DWORD>(_wtoi(argv[3])) * 1000;
    const DWORD start = ::GetTickCount();
    while (::GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES &&
           ::GetTickCount() - start < limit)
        ::Sleep(50);
    ::CloseHandle(mutex);
    return 0;
}
