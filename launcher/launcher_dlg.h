#pragma once
#include <windows.h>

#include "app/framework_win.h"

// The launcher's progress window. Its worker runs the launch pipeline and ends the dialog.
class CZekLauncherDlg : public CDialog {
public:
    CZekLauncherDlg();

    // The dialog becomes the application's main window once it exists.
    void set_as_main_window(CWinApp* app) { m_app = app; }

    void thread_launcher();

protected:
    BOOL OnInitDialog() override;
    void OnOK() override {}
    bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;

private:
    HICON m_hIcon = nullptr;
    CWinApp* m_app = nullptr;
};
