#include "launcher/launcher_dlg.h"

int CZekLauncherDlg::download_server_files() {
    const int n = static_cast<int>(m_run.filelist.size());
    on_window_thread([this, n] {
        m_progress.SetRange(0, n);
        m_progress.SetPos(0);
    });
    return m_run.install();
}
