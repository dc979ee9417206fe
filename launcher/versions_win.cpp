#include "app/product_config.h"
#include "launcher/launcher_dlg.h"
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
    m_log_view.AppendText(k_colour_default, format_text(L"%s : ", label.c_str()));
    read_hklm_string(g_product.registry_key(), L"Version", m_local_version);
    // The value names the backup folder: one that could name another folder counts as none.
    if (!m_local_version.empty() && !is_safe_folder_name(m_local_version)) {
        SCLOG(2, fn, L"refused installed version text: %s",
              printable_text(m_local_version).c_str());
        m_local_version.clear();
    }
    if (m_local_version.empty())
        m_local_version = L"0.0.0.0";
    m_log_view.AddLine(k_colour_normal, L"%s", m_local_version.c_str());
    SCLOG(0, fn, L"%s : %s", label.c_str(), m_local_version.c_str());
}

bool CZekLauncherDlg::get_server_version() {
    const wchar_t* fn = L"CZekLauncherDlg::get_server_version";
    const std::wstring label = load_string(IDS_SERVER_VERSION);
    m_log_view.AppendText(k_colour_default, format_text(L"%s : ", label.c_str()));

    RequestParam param(g_product.server_host(), g_product.server_port, L"", L"GET", 1);
    param.path = g_product.download_path() + L"/version.html";
    request_url(param);
    SCLOG(0, fn, L"%s", param.full_url.c_str());
    m_log_view.AddLine(k_colour_default, L"%s", param.full_url.c_str());

    bool ok = param.status == 200 && !param.text.empty();
    if (!ok) {
        const std::wstring first =
            format_text(L"is_https = %d, port = %d, param.status = %d, "
                        L"get_windows_major_version() = %d",
                        param.is_https, param.port, param.status, get_windows_major_version());
        SCLOG(3, fn, L"%s", first.c_str());
        m_log_view.AddLine(k_colour_failure, L"%s", first.c_str());

        const std::wstring unreadable = load_string(IDS_SERVER_VERSION_FAIL);
        std::wstring failure;
        if (param.is_https == 1 && param.port == 443) {
            // From here on the whole process talks plain HTTP on port 80.
            g_product.server_port = 80;
            param.full_url.clear();
            param.is_https = 0;
            param.port = 80;
            const wchar_t* retry =
                L"https(443) request failed under Vista OS. retry http request...";
            SCLOG(3, fn, L"%s", retry);
            m_log_view.AddLine(k_colour_failure, L"%s", retry);
            request_url(param);
            SCLOG(0, fn, L"%s", param.full_url.c_str());
            m_log_view.AddLine(k_colour_default, L"%s", param.full_url.c_str());
            ok = param.status == 200 && !param.text.empty();
            if (!ok)
                failure = format_text(L"http request. %s\n(error code = %d. %s)",
                                      unreadable.c_str(), param.status, param.text.c_str());
        } else {
            failure = format_text(L"%s\n(error code = %d. %s)", unreadable.c_str(), param.status,
                                  param.text.c_str());
        }
        if (!ok) {
            SCLOG(3, fn, L"%s", failure.c_str());
            m_log_view.AddLine(k_colour_failure, L"%s", failure.c_str());
            return false;
        }
    }

    // The text names a server folder, the backup folder of the next run and the stored
    // version: a page that is not one plain folder name is no version.
    if (!is_safe_folder_name(param.text)) {
        const std::wstring text =
            format_text(L"refused server version text: %s", printable_text(param.text).c_str());
        SCLOG(3, fn, L"%s", text.c_str());
        m_log_view.AddLine(k_colour_failure, L"%s", text.c_str());
        return false;
    }
    m_server_version = param.text;
    m_log_view.AddLine(k_colour_normal, L"%s\n", m_server_version.c_str());
    SCLOG(0, fn, L"%s : %s", label.c_str(), m_server_version.c_str());
    return true;
}
