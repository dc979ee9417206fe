#include "launcher/launcher_dlg.h"

#include <thread>

#include "res/resource.h"

CZekLauncherDlg::CZekLauncherDlg() : CDialog(IDD_FENWALAUNCHER_DIALOG) {
    m_hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

BOOL CZekLauncherDlg::OnInitDialog() {
    if (m_app)
        m_app->m_hMainWnd = m_hWnd;
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    std::thread([this] { thread_launcher(); }).detach();
    return TRUE;
}

bool CZekLauncherDlg::OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) {
    if (message == WM_COMMAND && LOWORD(wparam) == IDC_BUTTON_CLOSE) {
        EndDialog(IDCANCEL);
        result = TRUE;
        return true;
    }
    return CDialog::OnMessage(message, wparam, lparam, result);
}

// Until the pipeline exists the worker has nothing to do but end the dialog.
void CZekLauncherDlg::thread_launcher() {
    EndDialog(IDCANCEL);
}
