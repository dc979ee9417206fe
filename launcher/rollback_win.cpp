#include "launcher/launcher_dlg.h"

int CZekLauncherDlg::rollback_files() {
    return m_run.rollback();
}
