#pragma once
// The theme schemes over the running system's colours and the owner window's class.
#include <windows.h>

#include "controls/colour.h"

theme_system_colours current_system_colours();

// Fills the scheme for `owner`: the fallback background is the window colour when the owner
// is a list, tree, edit, combo or list box, else the button face.
void ApplyTheme(CSCColorTheme& scheme, int theme, HWND owner);
