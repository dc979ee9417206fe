// Holds what a running program would hold, until a stop file appears or a time-out:
//   hold mutex NAME STOP_FILE SECONDS   a named mutex, as a running launcher does
//   hold file PATH STOP_FILE SECONDS    a file opened without sharing, as a program holds its files
//   hold image PATH STOP_FILE SECONDS   a file others may still read and run, but not replace,
//                                       as Windows holds a running executable (a move
//                                       onto an open file needs the holder's sharing,
//                                       "Moving and Replacing Files" in the file I/O docs)
// Prints "held" once it holds it.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 5)
        return 2;
    const std::wstring kind = argv[1];
    HANDLE held = nullptr;
    if (kind == L"mutex")
        held = ::CreateMutexW(nullptr, FALSE, argv[2]);
    else if (kind == L"file")
        held = ::CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    else if (kind == L"image")
        held = ::CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!held || held == INVALID_HANDLE_VALUE)
        return 3;
    std::printf("held\n");
    std::fflush(stdout);
    const DWORD limit = static_cast<DWORD>(_wtoi(argv[4])) * 1000;
    const DWORD start = ::GetTickCount();
    while (::GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES &&
           ::GetTickCount() - start < limit)
        ::Sleep(50);
    ::CloseHandle(held);
    return 0;
}
