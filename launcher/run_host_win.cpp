#include <windows.h>
#include <shellapi.h>

#include "product/product_config.h"
#include "launcher/access_code.h"
#include "launcher/launcher_dlg.h"
#include "log/sc_log.h"
#include "util/text_util.h"
#include "res/resource.h"
#include "util/file_util_win.h"
#include "util/unique_handle.h"

bool CZekLauncherDlg::run_fenwa() {
    const wchar_t* fn = L"CZekLauncherDlg::run_fenwa";
    const std::wstring exe = g_product.service_exe_path();
    SCLOG(0, fn, L"execute_filename : %s", exe.c_str());
    SCLOG(0, fn, L"param = %s", printable_text(m_params).c_str());
    show_line(RGB(0, 0, 255), L"execute_filename : " + exe);

    if (!path_exists(exe)) {
        AfxMessageBox(load_string(IDS_NO_HOST_EXE), MB_OK);
        return false;
    }

    SCLOG(0, fn, L"stop previous running process.");
    unique_hfile held;
    if (!hold_signed_host(exe, held))
        return false;
    ::ShellExecuteW(nullptr, L"open", exe.c_str(), L"-u", nullptr, SW_SHOWNORMAL);
    held.reset();
    ::Sleep(1000);

    // The parameter comes from a URL, a window caption or the server: whatever it holds, it
    // must stay the one argument after "-i".
    const std::wstring param = host_safe_param(m_params);
    if (param != m_params)
        SCLOG(2, fn,
              L"param \"%s\" held characters that could change the command line; using \"%s\"",
              printable_text(m_params).c_str(), param.c_str());
    const std::wstring command = param.empty() ? L"-i" : L"-i " + param;
    SCLOG(0, fn, L"run process with param = \"%s\"", command.c_str());
    // The file may have changed during the pause: checked again.
    if (!hold_signed_host(exe, held))
        return false;
    ::ShellExecuteW(nullptr, L"open", exe.c_str(), command.c_str(), nullptr, SW_SHOWNORMAL);
    return true;
}
