#include "app/launcher_app.h"

// Stand-in until the URL scheme is registered.
bool CZekLauncherApp::regist_UrlScheme() {
    return true;
}
