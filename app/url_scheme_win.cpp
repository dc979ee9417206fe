#include <objbase.h>

#include "app/launcher_app.h"
#include "product/product_config.h"
#include "app/url_scheme_win.h"
#include "log/sc_log.h"

namespace {

// Undone only when this call set the thread's apartment up: a failed or mismatched
// initialisation must not be balanced.
class com_scope {
public:
    com_scope() : m_ok(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~com_scope() {
        if (m_ok)
            ::CoUninitialize();
    }
    com_scope(const com_scope&) = delete;
    com_scope& operator=(const com_scope&) = delete;

private:
    bool m_ok;
};

} // namespace

bool CZekLauncherApp::regist_UrlScheme() {
    const wchar_t* fn = L"CZekLauncherApp::regist_UrlScheme";
    SCLOG(0, fn, L"start");
    bool ok = false;
    {
        com_scope com;
        // The installed copy, not the running one: a copy in Downloads is removed at exit.
        const std::wstring launcher =
            g_product.program_folder() + L"\\" + g_product.program_name() + L".exe";
        ok = write_url_scheme(HKEY_CURRENT_USER, g_product.url_scheme(),
                              g_product.url_scheme_description(), launcher);
        if (!ok)
            SCLOG(0, fn, L"regKey.Create(HKEY_CURRENT_USER,...) failed");
    }
    if (ok)
        SCLOG(0, fn, L"end");
    return ok;
}
