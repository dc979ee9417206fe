#include "app/launcher_app.h"

// Stand-ins until the launcher updates and removes itself: no update is ever offered.
bool CZekLauncherApp::check_new_version_itself() {
    m_self_updating = false;
    return false;
}

void CZekLauncherApp::self_update(bool) {}

void CZekLauncherApp::self_delete() {}
