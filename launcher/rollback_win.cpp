#include "app/product_config.h"
#include "launcher/launcher_dlg.h"
#include "log/sc_log.h"
#include "res/resource.h"
#include "util/win_util.h"

int CZekLauncherDlg::rollback_files() {
    const wchar_t* fn = L"CZekLauncherDlg::rollback_files";
    const std::wstring program_folder = g_product.program_folder();
    std::vector<std::wstring> backups;
    const std::wstring backup = backup_folder();
    if (!backup.empty() && !is_link(backup))
        list_files(backup, L"*", L"", false, L"", true, backups, true);
    const int n = static_cast<int>(m_filelist.size());

    int failed = 0;
    for (int k = static_cast<int>(backups.size()) - 1; k >= 0; --k) {
        const std::wstring& saved = backups[static_cast<size_t>(k)];
        m_progress.SetPos(k);
        m_count.SetTextF(L"%d / %d", k + 1, n);
        const std::wstring target = rollback_target(saved, program_folder, m_local_version);
        const std::wstring shown = rollback_display_name(target, program_folder);
        m_log_view.AddLine(k_colour_default, L"rollback : %s", shown.c_str());
        SCLOG(0, fn, L"rollback : %s", shown.c_str());
        m_status.SetText(L"rollback : " + shown);
        if (target.empty() ||
            !::MoveFileExW(saved.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            SCLOG(0, fn, L"rollback : %s failed.", shown.c_str());
            ++failed;
        }
        ::Sleep(50);
    }

    if (failed > 0) {
        m_log_view.AddLine(k_colour_failure, L"rollback fail count = %d", failed);
        SCLOG(3, fn, L"rollback fail count = %d", failed);
        return failed;
    }
    m_log_view.AddLine(k_colour_normal, L"rollback success.");
    SCLOG(0, fn, L"rollback success.");
    m_status.SetText(load_string(IDS_ROLLBACK_COMPLETED));
    m_count.SetTextF(L"0 / %d", n);
    return 0;
}
