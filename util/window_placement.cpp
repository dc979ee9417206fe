#include "util/window_placement.h"

#include <algorithm>

std::wstring placement_section(const std::wstring& prefix) {
    return prefix.empty() ? L"screen" : prefix + L"\\screen";
}

void adjust_max_size(const taskbar_info& taskbar, int& max_width, int& max_height) {
    if (!taskbar.found)
        return;
    if (taskbar.auto_hide)
        max_height -= 2;
    else if (taskbar.height > taskbar.width)
        max_width -= taskbar.width;
    else
        max_height -= taskbar.height;
    max_width = std::max(max_width, 0);
    max_height = std::max(max_height, 0);
}

bool appbar_state_auto_hide(unsigned state) {
    return state == 0x1u; // ABS_AUTOHIDE alone
}
