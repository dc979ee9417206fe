#pragma once
// The about box of the system menu: the icon, the program and version, and an OK button.
#include "framework/framework_win.h"

class CAboutDlg : public CDialog {
public:
    explicit CAboutDlg(HWND parent);
};
