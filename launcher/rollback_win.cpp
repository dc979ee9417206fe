#include "product/product_config.h"
#include "launcher/launcher_dlg.h"
#include "log/sc_log.h"
#include "res/resource.h"
#include "util/file_util_win.h"
#include "util/text_util.h"

int CZekLauncherDlg::rollback_files() {
    const wchar_t* fn = L"CZekLauncherDlg::rollback_files";
    const std::wstring program_folder = g_product.program_folder();
    const int n = static_cast<int>(m_filelist.size());
    m_journal.reset();

    // The journal says what moved where; a run that changed nothing has none.
    journal_contents journal;
    int failed = 0;
    if (path_exists(journal_path(program_folder))) {
        if (!read_journal(program_folder, journal))
            ++failed;
        // A line it cannot follow may name an old file: nothing is deleted then.
        for (const auto& line : journal.refused) {
            SCLOG(3, fn, L"refused journal line: %s", printable_text(line).c_str());
            ++failed;
        }
        const undo_result r =
            undo_changes(program_folder, journal, false, [&](const undo_progress& p) {
                m_progress.SetPos(p.index);
                m_count.SetTextF(L"%d / %d", p.index + 1, n);
                m_log_view.AddLine(k_colour_default, L"rollback : %s", p.shown.c_str());
                SCLOG(0, fn, L"rollback : %s", p.shown.c_str());
                m_status.SetText(L"rollback : " + p.shown);
                if (!p.ok) {
                    SCLOG(0, fn, L"rollback : %s failed.", p.shown.c_str());
                    ++failed;
                }
                ::Sleep(50);
            });
        if (failed == 0)
            clear_journal(program_folder, journal);
        (void)r;
    }

    if (failed > 0) {
        m_log_view.AddLine(k_colour_failure, L"rollback fail count = %d", failed);
        SCLOG(3, fn, L"rollback fail count = %d", failed);
        const wchar_t* kept = L"The backup is kept; the next start puts the files back.";
        m_log_view.AddLine(k_colour_failure, L"%s", kept);
        SCLOG(3, fn, L"%s", kept);
        return failed;
    }
    m_log_view.AddLine(k_colour_normal, L"rollback success.");
    SCLOG(0, fn, L"rollback success.");
    m_status.SetText(load_string(IDS_ROLLBACK_COMPLETED));
    m_count.SetTextF(L"0 / %d", n);
    return 0;
}
