#include "app/launcher_app.h"

#include <commctrl.h>
#include <shellapi.h>

#include "product/product_config.h"
#include "app/self_update.h"
#include "launcher/launcher_dlg.h"
#include "engine/update_journal_win.h"
#include "log/sc_log.h"
#include "util/file_util_win.h"
#include "util/folder_security_win.h"
#include "util/place_win.h"
#include "util/text_util.h"
#include "util/system_library_win.h"

CZekLauncherApp::~CZekLauncherApp() {
    if (m_mutex) {
        ::ReleaseMutex(m_mutex.get());
        // The system closes the handle when the process ends; the mutex must outlive every
        // static object that might still be running exit code.
        (void)m_mutex.release();
    }
}

BOOL CZekLauncherApp::InitInstance() {
    const wchar_t* fn = L"CZekLauncherApp::InitInstance";

    m_mutex.reset(::CreateMutexW(nullptr, FALSE, L"MUTEX_OF_OrvexLauncher"));
    if (::GetLastError() == ERROR_ALREADY_EXISTS)
        return FALSE;

    m_rich_edit.reset(load_system_library(L"riched20.dll"));

    INITCOMMONCONTROLSEX icc = {};
    icc.dwSize = sizeof(icc);
    icc.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&icc);

    if (!product_config_for_start_up().secure_folders()) {
        AfxMessageBox(
            L"공용 문서 또는 내 문서 경로를 접근할 수 없는 환경이므로 원격제어를 실행할 수 "
            L"없습니다.",
            MB_OK | MB_ICONEXCLAMATION);
        return FALSE;
    }

    if (g_plog) {
        const std::wstring title = g_product.log_file_title().empty() ? g_product.program_name()
                                                                      : g_product.log_file_title();
        g_plog->open(g_product.log_folder(), title, 6);
        g_plog->write_start_log();
    }
    // What securing the program's folder did before the log could be opened below it.
    for (const security_note& line : take_program_root_report())
        SCLOG(line.level, L"secure_program_root", L"%s", line.text.c_str());
    set_link_reporter([](const std::wstring& path, bool removed) {
        SCLOG(2, L"place", L"a link in place of %s %s", path.c_str(),
              removed ? L"was removed." : L"could not be removed; nothing is done there.");
    });

    // An update cut off by the end of an earlier process is repaired before anything else
    // looks at the program folder or the network.
    recover_unfinished_update(g_product.program_folder(), g_product.registry_key());
    place::inside(g_product.program_folder(),
                  split_path(g_product.old_launcher_path(), path_file_name))
        .remove();

    regist_UrlScheme();

    std::wstring params;
    int argc = 0;
    unique_hlocal argv_owner;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    argv_owner.reset(argv);
    // Only as the first argument: the URL scheme always puts the URL there.
    const bool skip_self_update = argv && argc >= 2 && wcscmp(argv[1], k_skip_self_update_arg) == 0;
    const int first = skip_self_update ? 2 : 1;
    if (argv && argc > first)
        params = argv[first];

    SCLOG(0, fn, L"uri_params = %s", printable_text(params).c_str());
    if (params.find(g_product.url_scheme()) != std::wstring::npos) {
        m_uri_params = params;
        m_command_param = params;
        if (!m_uri_params.empty() && m_uri_params.back() == L'/')
            m_uri_params.pop_back();
        SCLOG(0, fn, L"m_uri_params = %s", printable_text(m_uri_params).c_str());
    }

    SetRegistryKey(L"Fenwa");
    WriteProfileString(L"setting", L"exe path", get_exe_name(true).c_str());
    WriteProfileString(L"setting", L"log path", g_product.log_folder().c_str());
    WriteProfileString(L"setting", L"log filetitle : %s", g_product.program_name().c_str());

    if (skip_self_update) {
        SCLOG(2, fn,
              L"started by an updater that could not swap in the new launcher: skip "
              L"self_update().");
    } else if (check_new_version_itself()) {
        m_self_updating = true;
        return FALSE;
    }

    // The worker is never joined: when the user closes the window early it may still be
    // inside a step, so the dialog is only freed once the worker has let go of it.
    auto* dlg = new CZekLauncherDlg(this, m_uri_params);
    dlg->DoModal();
    m_hMainWnd = nullptr;
    if (dlg->worker_finished())
        delete dlg;
    return FALSE;
}

int CZekLauncherApp::ExitInstance() {
    if (!m_self_updating) {
        self_update(false);
        self_delete();
    }
    return CWinApp::ExitInstance();
}
