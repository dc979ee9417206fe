#include "product/product_config.h"
#include "launcher/launcher_dlg.h"
#include "log/sc_log.h"
#include "net/request_url.h"
#include "res/resource.h"
#include "util/text_util.h"
#include "util/text_util_win.h"

bool CZekLauncherDlg::get_server_filelist(std::wstring version) {
    const wchar_t* fn = L"CZekLauncherDlg::get_server_filelist";
    const std::wstring requesting = load_string(IDS_REQUEST_FILELIST);
    show_line(k_colour_default, requesting);
    SCLOG(0, fn, L"%s", requesting.c_str());
    m_run.filelist.clear();

    RequestParam param(g_product.server_host(), server_port(), L"", L"GET", 1);
    param.path = g_product.download_path() + L"/" + version + L"/filelist.lst";
    request_url(param);
    if (param.status != 200 || param.text.empty()) {
        const std::wstring text =
            format_text(L"%s %s (error code = %d)", param.path.c_str(),
                        load_string(IDS_FILE_READ_FAIL).c_str(), param.status);
        show_line(k_colour_failure, text);
        SCLOG(3, fn, L"%s", text.c_str());
        return false;
    }

    const std::vector<std::wstring> lines = filelist_lines(param.text);
    if (lines.empty()) {
        const std::wstring text =
            format_text(L"%s %s", version.c_str(), load_string(IDS_FILELIST_EMPTY).c_str());
        show_line(k_colour_failure, text);
        AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
        return false;
    }

    for (const std::wstring& line : lines) {
        std::wstring trimmed;
        FileInfo entry;
        switch (classify_filelist_line(line, trimmed, entry)) {
        case filelist_line_kind::comment:
            SCLOG(0, fn, L"comented line. excepted. (%s)", printable_text(trimmed).c_str());
            break;
        case filelist_line_kind::too_few_fields: {
            const std::wstring text = format_text(L"%s %s", printable_text(trimmed).c_str(),
                                                  load_string(IDS_FILELIST_BAD_LINE).c_str());
            show_line(k_colour_failure, text);
            SCLOG(3, fn, L"%s", text.c_str());
            break;
        }
        case filelist_line_kind::entry:
            m_run.filelist.push_back(entry);
            break;
        }
    }
    const int n = static_cast<int>(m_run.filelist.size());
    on_window_thread([this, n] { m_progress.SetRange(0, n); });
    return true;
}
