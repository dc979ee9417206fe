#pragma once
// Window placement in the profile and the maximised size that leaves the taskbar free.
#include <string>

// "screen", or prefix + "\screen".
std::wstring placement_section(const std::wstring& prefix);

struct taskbar_info {
    bool found = false;
    bool auto_hide = false;
    int width = 0;
    int height = 0;
};

// Adjusts the maximised size the system proposes. A taskbar that hides itself takes 2 pixels
// (so that it can still be revealed), any other its height, or its width when it stands on
// a side of the screen; no taskbar changes nothing. Never below 0.
void adjust_max_size(const taskbar_info& taskbar, int& max_width, int& max_height);

// ABM_GETSTATE's answer: auto-hide only when it is ABS_AUTOHIDE exactly. Windows 7 and later
// no longer report ABS_ALWAYSONTOP; an answer that carries it (Wine says 3) is not taken as
// a taskbar that hides itself.
bool appbar_state_auto_hide(unsigned state);
