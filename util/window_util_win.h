#pragma once
// Windows and messages, error texts, the system's version.
#include <windows.h>

#include <string>

HWND find_window_by_title(const std::wstring& text, bool exact);
void wait_with_messages(DWORD ms);
std::wstring get_error_text(DWORD code);
int get_windows_major_version();
