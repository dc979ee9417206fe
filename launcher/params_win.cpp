#include "product/product_config.h"
#include "launcher/input_code_dlg.h"
#include "launcher/launcher_dlg.h"
#include "log/sc_log.h"
#include "util/text_util.h"
#include "net/request_url.h"
#include "util/text_util_win.h"
#include "util/window_util_win.h"

bool CZekLauncherDlg::parse_browser_title() {
    const wchar_t* fn = L"CZekLauncherDlg::parse_browser_title";
    SCLOG(0, fn, L"theApp.m_uri_params = %s", printable_text(m_uri_params).c_str());
    const std::wstring url_prefix = g_product.url_scheme() + L"://param=";
    const std::wstring title_prefix = g_product.browser_title_prefix();

    std::wstring text = m_uri_params;
    bool ask = false;
    if (!text.empty()) {
        ask = text == url_prefix;
    } else {
        SCLOG(0, fn, L"find window caption \"%s\"", title_prefix.c_str());
        if (HWND browser = find_window_by_title(title_prefix, false)) {
            wchar_t caption[1024] = {};
            ::GetWindowTextW(browser, caption, 1024);
            text = caption;
        } else {
            ask = true;
        }
    }

    if (ask) {
        ::ShowWindow(m_hWnd, SW_HIDE);
        SCLOG(0, fn, L"run InputCodeDlg...");
        std::wstring title_key;
        if (ask_for_access_code(title_key) == IDCANCEL) {
            SCLOG(0, fn, L"user cancelled InputCodeDlg.");
            return false;
        }
        ::ShowWindow(m_hWnd, SW_SHOW);
        text = url_prefix + title_key;
        SCLOG(0, fn, L"get title key = %s", printable_text(title_key).c_str());
    }

    const params_steps s = normalise_params(text, url_prefix, title_prefix);
    SCLOG(0, fn, L"delete %%20 and black. params = %s", printable_text(s.after_blanks).c_str());
    SCLOG(0, fn, L"delete url_scheme prefix. params = %s",
          printable_text(s.after_url_prefix).c_str());
    if (s.had_title_prefix)
        SCLOG(0, fn, L"delete browser_title_prefix. params = %s",
              printable_text(s.after_title_prefix).c_str());
    if (s.had_postfix)
        SCLOG(0, fn, L"params after remove postfix = %s", printable_text(s.after_postfix).c_str());
    SCLOG(0, fn, L"final params = %s", printable_text(s.final_params).c_str());
    m_params = s.final_params;
    return true;
}

// Runs on the worker thread with its own modal loop; the main window's thread answers the
// dialog's look-ups meanwhile.
INT_PTR CZekLauncherDlg::ask_for_access_code(std::wstring& title_key) {
    CInputCodeDlg dlg;
    // A dialog that could not even be created is as good as cancelled.
    if (dlg.DoModal() != IDOK)
        return IDCANCEL;
    title_key = dlg.m_title_key;
    return IDOK;
}

LRESULT CZekLauncherDlg::on_get_title_key(WPARAM code, LPARAM title_key) {
    RequestParam param(g_product.server_host(), server_port(), L"", L"GET", 1);
    param.path = format_text(L"/run.php?accesscode=%d", static_cast<int>(code));
    request_url(param);
    if (param.status == 200 && param.text != L"null" && title_key)
        *reinterpret_cast<std::wstring*>(title_key) = param.text;
    return 0;
}
