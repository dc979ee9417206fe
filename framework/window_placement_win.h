#pragma once
// Window placement in the profile, and the taskbar's state for the maximised size.
#include <windows.h>

#include <string>

#include "util/window_placement.h"

// Writes "maximized" and, for a normal window, its rectangle to the profile section
// placement_section(prefix). Nothing for a missing, hidden or minimised window.
void save_window_placement(HWND window, const std::wstring& prefix);

// True when the taskbar hides itself; `size` gets the taskbar window's width and height.
// False, with `size` unchanged, when there is no taskbar window.
bool get_taskbar_state(SIZE& size);
taskbar_info get_taskbar_info();

// The maximum-size adjustment for WM_GETMINMAXINFO: the taskbar stays free; no minimum.
void adjust_min_max_info(MINMAXINFO& info);
