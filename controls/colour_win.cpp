#include "controls/colour_win.h"

#include <cwchar>
#include <initializer_list>

theme_system_colours current_system_colours() {
    theme_system_colours sys;
    sys.window = ::GetSysColor(COLOR_WINDOW);
    sys.button_face = ::GetSysColor(COLOR_BTNFACE);
    sys.button_text = ::GetSysColor(COLOR_BTNTEXT);
    sys.highlight = ::GetSysColor(COLOR_HIGHLIGHT);
    return sys;
}

void ApplyTheme(CSCColorTheme& scheme, int theme, HWND owner) {
    bool list_like = false;
    wchar_t cls[64] = {};
    if (owner && ::GetClassNameW(owner, cls, 64)) {
        for (const wchar_t* name :
             {L"SysListView32", L"SysTreeView32", L"Edit", L"ComboBox", L"ListBox"})
            list_like = list_like || _wcsicmp(cls, name) == 0;
    }
    ApplyTheme(scheme, theme, current_system_colours(), list_like);
    scheme.owner = owner;
}
