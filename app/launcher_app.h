#pragma once
#include <windows.h>

#include <string>

#include "framework/framework_win.h"
#include "util/unique_handle.h"

class CZekLauncherApp : public CWinApp {
public:
    CZekLauncherApp() = default;
    ~CZekLauncherApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    // Self-update and self-removal.
    bool check_new_version_itself();
    void self_update(bool restart);
    void self_delete();

    bool regist_UrlScheme();

    std::wstring m_uri_params;
    // The first argument as it came, when it named the scheme: an updater that gives up
    // passes it on.
    std::wstring m_command_param;
    bool m_self_updating = false;

private:
    unique_hhandle m_mutex;
    unique_hmodule m_rich_edit;
};

extern CZekLauncherApp theApp;
