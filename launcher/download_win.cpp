#include "app/product_config.h"
#include "launcher/launcher_dlg.h"
#include "log/sc_log.h"
#include "net/request_url.h"
#include "res/resource.h"
#include "util/win_util.h"
#include "zip/unzip.h"

int CZekLauncherDlg::download_server_files() {
    const wchar_t* fn = L"CZekLauncherDlg::download_server_files";
    const int n = static_cast<int>(m_filelist.size());
    const std::wstring program_folder = g_product.program_folder();
    m_log_view.AddLine(k_colour_default, L"%s", load_string(IDS_DOWNLOAD_START).c_str());

    if (!prepare_backup_folder())
        return -1;

    m_progress.SetRange(0, n);
    m_progress.SetPos(0);

    int identical_count = 0;
    int fail_count = 0;
    for (int i = 0; i < n; ++i) {
        const FileInfo& entry = m_filelist[static_cast<size_t>(i)];
        m_progress.SetPos(i + 1);
        m_count.SetTextF(L"%d / %d", i + 1, n);
        m_status.SetText(entry.name);
        const std::wstring prefix = format_text(L"%s (%d/%d) : ", entry.name.c_str(), i + 1, n);
        m_log_view.AppendText(k_colour_default, prefix);

        // A listed name must not reach outside the program folder: such an entry fails, and
        // the run then rolls back like any other failure.
        if (!is_safe_filelist_name(entry.name)) {
            SCLOG(3, fn, L"%sunsafe file name refused.", prefix.c_str());
            m_log_view.AddLine(k_colour_failure, L"%s", load_string(IDS_DOWNLOAD_FAIL).c_str());
            ++fail_count;
            continue;
        }

        const entry_paths p = derive_entry_paths(entry, program_folder, m_local_version,
                                                 g_product.download_path(), m_server_version);
        const bool identical =
            static_cast<int64_t>(get_path_size(p.local_file)) == entry.size &&
            get_file_version_string(p.local_file, L"FileVersion") == entry.version;
        if (identical) {
            SCLOG(0, fn, L"%sskip", prefix.c_str());
            ++identical_count;
            m_log_view.AddLine(k_colour_skipped, L"%s", load_string(IDS_IDENTICAL_FILE).c_str());
            continue;
        }

        ensure_folder(p.local_folder);
        if (p.file_name != g_product.program_name() + L".exe") {
            // A failed move (nothing there yet, or already backed up) is of no consequence.
            if (!p.is_archive)
                ensure_folder(p.backup_folder);
            ::MoveFileW(p.local_item.c_str(), p.backup_item.c_str());
        }

        RequestParam param(g_product.server_host(), g_product.server_port, L"", L"GET", 1, {}, L"",
                           p.downloaded_archive);
        param.path = p.server_path;
        request_url(param);
        if (param.status != 200) {
            SCLOG(3, fn, L"%serror = %d", prefix.c_str(), param.status);
            // A local failure (the file could not be written, a bound was passed, the
            // connection broke) says what it was; an HTTP status speaks for itself.
            if ((param.status < 100 || param.status > 599) && !param.text.empty()) {
                SCLOG(3, fn, L"%s%s", prefix.c_str(), param.text.c_str());
                m_log_view.AddLine(k_colour_failure, L"%s", param.text.c_str());
            }
            m_log_view.AddLine(k_colour_failure, L"%s", load_string(IDS_DOWNLOAD_FAIL).c_str());
            ++fail_count;
            continue;
        }

        ZipHandle zip = OpenZip(p.downloaded_archive);
        if (!zip) {
            const std::wstring text =
                format_text(L"OpenZip() failed. %s", p.downloaded_archive.c_str());
            SCLOG(3, fn, L"%s", text.c_str());
            m_log_view.AddLine(k_colour_failure, L"%s", text.c_str());
            ++fail_count;
            break;
        }

        uint32_t code = 0;
        if (p.is_launcher_archive)
            code = UnzipItem(zip, 0, p.target + L"_");
        else if (p.is_archive)
            code = UnzipAll(zip, p.target);
        else
            code = UnzipItem(zip, 0, p.target);
        if (code != 0) {
            SCLOG(3, fn, L"UnzipItem() failed. %s. zr error code = %d",
                  p.downloaded_archive.c_str(), static_cast<int>(code));
            m_log_view.AddLine(k_colour_failure, L"UnzipItem() failed. %s",
                               p.downloaded_archive.c_str());
            ++fail_count;
            // Released so that the archive file is not held open for the rest of the process.
            ReleaseZip(zip);
            break;
        }

        ReleaseZip(zip);
        delete_file(p.downloaded_archive);
        SCLOG(0, fn, L"%sdownload and unzip success.", prefix.c_str());
        m_log_view.AddLine(k_colour_normal, L"success");
    }

    const std::wstring total = format_text(L"\n%s : %d", load_string(IDS_SUM_TOTAL).c_str(), n);
    const std::wstring patched = format_text(L"  %s : %d", load_string(IDS_SUM_PATCHED).c_str(),
                                             n - identical_count - fail_count);
    const std::wstring same =
        format_text(L"  %s : %d", load_string(IDS_SUM_IDENTICAL).c_str(), identical_count);
    const std::wstring failed =
        format_text(L"  %s : %d\n", load_string(IDS_SUM_FAIL).c_str(), fail_count);
    m_log_view.AppendText(k_colour_default, total);
    m_log_view.AppendText(k_colour_normal, patched);
    m_log_view.AppendText(k_colour_default, same);
    m_log_view.AppendText(fail_count != 0 ? k_colour_failure : RGB(160, 82, 45), failed);
    SCLOG(0, fn, L"%s", (total + patched + same + failed).c_str());
    m_status.SetText(load_string(IDS_JOB_COMPLETED));
    return fail_count;
}
