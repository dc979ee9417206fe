// Keeps a file open without sharing, as a running program holds its files, until a stop
// file appears or a time-out.   hold_file PATH STOP_FILE SECONDS
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc < 4)
        return 2;
    HANDLE file = ::CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    std::printf("held\n");
    std::fflush(stdout);
    const DWORD limit = static_cast<DWORD>(_wtoi(argv[3])) * 1000;
    const DWORD start = ::GetTickCount();
    while (::GetFileAttributesW(argv[2]) == INVALID_FILE_ATTRIBUTES &&
           ::GetTickCount() - start < limit)
        ::Sleep(50);
    ::CloseHandle(file);
    return 0;
}
