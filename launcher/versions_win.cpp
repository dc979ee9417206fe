#include "product/product_config.h"
#include "launcher/launcher_dlg.h"
#include "engine/version_page_win.h"
#include "log/sc_log.h"
#include "net/request_url.h"
#include "res/resource.h"
#include "util/registry_util_win.h"
#include "util/text_util.h"
#include "util/text_util_win.h"
#include "util/window_util_win.h"

void CZekLauncherDlg::get_local_version() {
    const wchar_t* fn = L"CZekLauncherDlg::get_local_version";
    const std::wstring label = load_string(IDS_LOCAL_VERSION);
    show_line(k_colour_default, format_text(L"%s : ", label.c_str()), false);
    read_hklm_string(g_product.registry_key(), L"Version", m_run.local_version);
    // The value names the backup folder: one that could name another folder counts as none.
    if (!m_run.local_version.empty() && !is_safe_folder_name(m_run.local_version)) {
        SCLOG(2, fn, L"refused installed version text: %s",
              printable_text(m_run.local_version).c_str());
        m_run.local_version.clear();
    }
    if (m_run.local_version.empty())
        m_run.local_version = L"0.0.0.0";
    show_line(k_colour_normal, m_run.local_version);
    SCLOG(0, fn, L"%s : %s", label.c_str(), m_run.local_version.c_str());
}

bool CZekLauncherDlg::get_server_version() {
    const wchar_t* fn = L"CZekLauncherDlg::get_server_version";
    const std::wstring label = load_string(IDS_SERVER_VERSION);
    show_line(k_colour_default, format_text(L"%s : ", label.c_str()), false);

    version_page_steps steps;
    steps.fetched = [this, fn](const RequestParam& param) {
        SCLOG(0, fn, L"%s", param.full_url.c_str());
        show_line(k_colour_default, param.full_url);
    };
    steps.failed = [this, fn](const RequestParam& param) {
        const std::wstring first =
            format_text(L"is_https = %d, port = %d, param.status = %d, "
                        L"get_windows_major_version() = %d",
                        param.is_https, param.port, param.status, get_windows_major_version());
        SCLOG(3, fn, L"%s", first.c_str());
        show_line(k_colour_failure, first);
    };
    steps.retrying = [this, fn] {
        const wchar_t* retry = L"https(443) request failed under Vista OS. retry http request...";
        SCLOG(3, fn, L"%s", retry);
        show_line(k_colour_failure, retry);
    };
    steps.refetched = steps.fetched;
    const version_page page = fetch_version_page(steps);
    const RequestParam& param = page.param;
    if (!page.ok) {
        const std::wstring unreadable = load_string(IDS_SERVER_VERSION_FAIL);
        const std::wstring failure =
            page.retried
                ? format_text(L"http request. %s\n(error code = %d. %s)", unreadable.c_str(),
                              param.status, text_for_log(param).c_str())
                : format_text(L"%s\n(error code = %d. %s)", unreadable.c_str(), param.status,
                              text_for_log(param).c_str());
        SCLOG(3, fn, L"%s", failure.c_str());
        show_line(k_colour_failure, failure);
        return false;
    }

    // The text names a server folder, the backup folder of the next run and the stored
    // version: a page that is not one plain folder name is no version.
    if (!is_safe_folder_name(param.text)) {
        const std::wstring text =
            format_text(L"refused server version text: %s", text_for_log(param).c_str());
        SCLOG(3, fn, L"%s", text.c_str());
        show_line(k_colour_failure, text);
        return false;
    }
    m_run.server_version = param.text;
    show_line(k_colour_normal, m_run.server_version + L"\n");
    SCLOG(0, fn, L"%s : %s", label.c_str(), m_run.server_version.c_str());
    return true;
}
