// The process's objects, in the order they must come to life: the configuration (which
// picks the documents folder), the log (which notes the start time) and the application.
#include <windows.h>

#include <new>

#include "app/launcher_app.h"
#include "product/product_config.h"
#include "log/sc_log.h"
#include "util/folder_security_win.h"
#include "util/system_library_win.h"

// Never destroyed: a worker thread cut off by the end of the process may still read it.
ProductConfig& product_config_for_start_up() {
    static ProductConfig& config = *new ProductConfig();
    return config;
}
const ProductConfig& g_product = product_config_for_start_up();

namespace {

// The log outlives every other static object on purpose: a worker thread cut off by the
// end of the process may still be inside a write. At static destruction it writes only
// the exit banner; the object itself is never torn down.
struct process_log {
    process_log() { new (&storage) CSCLog(); }
    ~process_log() { reinterpret_cast<CSCLog*>(&storage)->write_end_log(); }
    alignas(CSCLog) unsigned char storage[sizeof(CSCLog)];
};
process_log g_log_holder;

} // namespace

CZekLauncherApp theApp;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return AfxWinMain(instance);
}

// The runtime's entry point, which starts the C runtime and the static objects above.
extern "C" int WinMainCRTStartup();

// The process starts here (the Makefile names it the entry point), before the runtime and
// before any static object: from now on no library comes from the executable's folder, which
// is a Downloads folder on the first run. The loader has bound only the static imports,
// kernel32 and msvcrt, both known DLLs; every other library is delay-loaded and bound here
// from the system folder, as the loader would have bound it, so that its own imports are
// searched for in the system folder too.
extern "C" int fenwa_entry() {
    // Before any file is opened; where the system lacks it, nothing changes.
    (void)enforce_redirection_trust();
    restrict_library_search();
    wchar_t failed[MAX_PATH];
    if (!bind_delay_imports(failed, MAX_PATH)) {
        // Ends the process the way the loader does when an import is missing: a message and
        // no code of ours run. Only kernel32 is certain to be there.
        wchar_t text[MAX_PATH + 96] = L"FenwaLauncher cannot start: this system library could not "
                                      L"be loaded from the system folder: ";
        size_t at = 0;
        while (text[at])
            ++at;
        for (const wchar_t* c = failed; *c && at + 1 < sizeof(text) / sizeof(text[0]); ++c)
            text[at++] = *c;
        text[at] = L'\0';
        ::FatalAppExitW(0, text);
        return 1;
    }
    return WinMainCRTStartup();
}
