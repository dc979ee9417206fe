// The process's objects, in the order they must come to life: the configuration (which
// picks the documents folder), the log (which notes the start time) and the application.
#include <windows.h>

#include <new>

#include "app/launcher_app.h"
#include "app/product_config.h"
#include "log/sc_log.h"

// Never destroyed: a worker thread cut off by the end of the process may still read it.
ProductConfig& g_product = *new ProductConfig();

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
