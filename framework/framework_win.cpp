#include "framework/framework_win.h"

#include <iterator>
#include <memory>
#include <mutex>
#include <vector>

#include "util/file_util_win.h"
#include "util/text_util.h"
#include "util/unique_handle.h"

CWinApp* CWinApp::s_current = nullptr;

CWinApp::CWinApp() {
    s_current = this;
    m_pszAppName = split_path(get_exe_name(false), path_title);
}

CWinApp::~CWinApp() {
    if (s_current == this)
        s_current = nullptr;
}

void CWinApp::SetRegistryKey(const wchar_t* key) {
    m_pszRegistryKey = key ? key : L"";
}

std::wstring CWinApp::section_key(const wchar_t* section) const {
    return L"Software\\" + m_pszRegistryKey + L"\\" + m_pszAppName + L"\\" + section;
}

unique_hkey CWinApp::open_section(const wchar_t* section, const wchar_t* entry, bool write) const {
    unique_hkey key;
    if (m_pszRegistryKey.empty() || !section || !entry)
        return key;
    const std::wstring path = section_key(section);
    const LONG result =
        write ? ::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, key.put(), nullptr)
              : ::RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put());
    if (result != ERROR_SUCCESS)
        key.reset();
    return key;
}

BOOL CWinApp::WriteProfileString(const wchar_t* section, const wchar_t* entry,
                                 const wchar_t* value) {
    const unique_hkey key = open_section(section, entry, true);
    if (!key)
        return FALSE;
    if (!value)
        return ::RegDeleteValueW(key.get(), entry) == ERROR_SUCCESS;
    const DWORD bytes = static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key.get(), entry, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                            bytes) == ERROR_SUCCESS;
}

std::wstring CWinApp::GetProfileString(const wchar_t* section, const wchar_t* entry,
                                       const wchar_t* default_value) const {
    const std::wstring fallback = default_value ? default_value : L"";
    const unique_hkey key = open_section(section, entry, false);
    if (!key)
        return fallback;
    DWORD type = 0;
    DWORD bytes = 0;
    if (::RegQueryValueExW(key.get(), entry, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        type != REG_SZ)
        return fallback;
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key.get(), entry, nullptr, &type, reinterpret_cast<BYTE*>(&value[0]),
                           &bytes) != ERROR_SUCCESS)
        return fallback;
    value.resize(wcsnlen(value.c_str(), value.size()));
    return value;
}

BOOL CWinApp::WriteProfileInt(const wchar_t* section, const wchar_t* entry, int value) {
    const unique_hkey key = open_section(section, entry, true);
    if (!key)
        return FALSE;
    const DWORD data = static_cast<DWORD>(value);
    return ::RegSetValueExW(key.get(), entry, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                            sizeof(data)) == ERROR_SUCCESS;
}

UINT CWinApp::GetProfileInt(const wchar_t* section, const wchar_t* entry, int default_value) const {
    const unique_hkey key = open_section(section, entry, false);
    if (!key)
        return static_cast<UINT>(default_value);
    DWORD type = 0;
    DWORD data = 0;
    DWORD bytes = sizeof(data);
    if (::RegQueryValueExW(key.get(), entry, nullptr, &type, reinterpret_cast<BYTE*>(&data),
                           &bytes) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return static_cast<UINT>(default_value);
    return data;
}

HINSTANCE AfxGetResourceHandle() {
    CWinApp* app = CWinApp::current();
    return app && app->m_hInstance ? app->m_hInstance : ::GetModuleHandleW(nullptr);
}

std::wstring load_string(UINT id) {
    const wchar_t* text = nullptr;
    // With a zero length the call hands out a pointer into the resource itself.
    const int n = ::LoadStringW(AfxGetResourceHandle(), id, reinterpret_cast<LPWSTR>(&text), 0);
    return n > 0 && text ? std::wstring(text, static_cast<size_t>(n)) : std::wstring();
}

int AfxMessageBox(const std::wstring& text, UINT type) {
    CWinApp* app = CWinApp::current();
    const std::wstring caption = app ? app->m_pszAppName : std::wstring();
    HWND owner = app ? app->m_hMainWnd : nullptr;
    if (owner && !::IsWindow(owner))
        owner = nullptr;
    return ::MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}

int AfxWinMain(HINSTANCE instance) {
    CWinApp* app = CWinApp::current();
    if (!app)
        return 1;
    app->m_hInstance = instance;
    app->InitInstance();
    return app->ExitInstance();
}

CDialog::CDialog(UINT template_id, HWND parent) : m_template_id(template_id), m_parent(parent) {}

INT_PTR CDialog::DoModal() {
    return ::DialogBoxParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_template_id), m_parent,
                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(INT_PTR result) {
    if (m_hWnd)
        ::EndDialog(m_hWnd, result);
}

bool CDialog::OnMessage(UINT message, WPARAM wparam, LPARAM, INT_PTR& result) {
    if (message == WM_COMMAND && HIWORD(wparam) == BN_CLICKED) {
        if (LOWORD(wparam) == IDOK) {
            OnOK();
            result = TRUE;
            return true;
        }
        if (LOWORD(wparam) == IDCANCEL) {
            OnCancel();
            result = TRUE;
            return true;
        }
    }
    return false;
}

namespace {

// The calls queued for one dialog's window. A worker hands its control updates over without
// waiting: every wait would be a round trip through the window system.
struct ui_queue {
    HWND root = nullptr;
    DWORD thread = 0;
    std::vector<std::function<void()>> calls;
    bool announced = false; // a WM_FENWA_QUEUED is on its way
    bool running = false;
    bool timer_set = false;
    ULONGLONG last_run = 0;
};

// A stream of queued calls is run at most this often: every run ends in a repaint of what it
// changed, and a repaint for every call would cost more than the calls themselves.
constexpr ULONGLONG k_queue_interval_ms = 30;
// How long one paced run may take before it leaves the rest for the next.
constexpr ULONGLONG k_queue_slice_ms = 25;
constexpr UINT_PTR k_queue_timer = 0xF3A1;

// Never destroyed: a worker cut off by the end of the process may still be handing a call
// over. Few dialogs live at once: a list is enough. Pointers stay put while the list changes.
std::mutex& g_queues_mutex = *new std::mutex();
std::vector<std::unique_ptr<ui_queue>>& g_queues = *new std::vector<std::unique_ptr<ui_queue>>();

ui_queue* find_queue(HWND root) {
    for (const auto& q : g_queues)
        if (q->root == root)
            return q.get();
    return nullptr;
}

void register_queue(HWND root) {
    std::lock_guard<std::mutex> lock(g_queues_mutex);
    if (find_queue(root))
        return;
    auto q = std::make_unique<ui_queue>();
    q->root = root;
    q->thread = ::GetCurrentThreadId();
    g_queues.push_back(std::move(q));
}

void unregister_queue(HWND root) {
    std::lock_guard<std::mutex> lock(g_queues_mutex);
    for (auto it = g_queues.begin(); it != g_queues.end(); ++it) {
        if ((*it)->root == root) {
            g_queues.erase(it);
            return;
        }
    }
}

// On the dialog's thread: runs what is queued, in order, including calls queued meanwhile.
// With a budget (the paced runs) whatever is left once it is spent waits for the next run,
// so that the window still takes input and repaints through a long backlog. A call that
// pumps messages and so comes back here leaves the rest to the outer run.
void run_queued(HWND root, ULONGLONG budget_ms = 0) {
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        std::vector<std::function<void()>> batch;
        {
            std::lock_guard<std::mutex> lock(g_queues_mutex);
            ui_queue* q = find_queue(root);
            if (!q || q->running || q->calls.empty()) {
                if (q && !q->running)
                    q->announced = false;
                return;
            }
            batch.swap(q->calls);
            q->announced = false;
            q->running = true;
            q->last_run = ::GetTickCount64();
        }
        size_t done = 0;
        while (done < batch.size()) {
            batch[done++]();
            if (budget_ms != 0 && done < batch.size() && ::GetTickCount64() - start >= budget_ms)
                break;
        }
        bool announce = false;
        {
            std::lock_guard<std::mutex> lock(g_queues_mutex);
            ui_queue* q = find_queue(root);
            if (!q)
                return;
            q->running = false;
            if (done < batch.size()) {
                // Ahead of whatever was queued meanwhile: the order is kept.
                q->calls.insert(q->calls.begin(), std::make_move_iterator(batch.begin() + done),
                                std::make_move_iterator(batch.end()));
                announce = !q->announced;
                q->announced = true;
            }
        }
        if (done < batch.size()) {
            if (announce)
                ::PostMessageW(root, WM_FENWA_QUEUED, 0, 0);
            return;
        }
    }
}

// For WM_FENWA_QUEUED: runs the queue now, or from a timer when the last run is too recent.
void run_queued_paced(HWND root) {
    UINT wait = 0;
    {
        std::lock_guard<std::mutex> lock(g_queues_mutex);
        ui_queue* q = find_queue(root);
        if (!q)
            return;
        const ULONGLONG since = ::GetTickCount64() - q->last_run;
        if (q->last_run != 0 && since < k_queue_interval_ms) {
            if (q->timer_set)
                return;
            q->timer_set = true;
            wait = static_cast<UINT>(k_queue_interval_ms - since);
        }
    }
    if (wait != 0) {
        if (::SetTimer(root, k_queue_timer, wait, nullptr))
            return;
        std::lock_guard<std::mutex> lock(g_queues_mutex);
        if (ui_queue* q = find_queue(root))
            q->timer_set = false;
    }
    run_queued(root, k_queue_slice_ms);
}

void on_queue_timer(HWND root) {
    ::KillTimer(root, k_queue_timer);
    {
        std::lock_guard<std::mutex> lock(g_queues_mutex);
        if (ui_queue* q = find_queue(root))
            q->timer_set = false;
    }
    run_queued(root, k_queue_slice_ms);
}

} // namespace

void ui_post(HWND root, std::function<void()> f) {
    if (!root || !f)
        return;
    bool announce = false;
    {
        std::lock_guard<std::mutex> lock(g_queues_mutex);
        ui_queue* q = find_queue(root);
        if (q && q->thread != ::GetCurrentThreadId()) {
            q->calls.push_back(std::move(f));
            announce = !q->announced;
            q->announced = true;
            f = nullptr;
        } else if (!q && ::GetWindowThreadProcessId(root, nullptr) != ::GetCurrentThreadId()) {
            return;
        }
    }
    if (announce)
        ::PostMessageW(root, WM_FENWA_QUEUED, 0, 0);
    if (f) {
        run_queued(root);
        f();
    }
}

void ui_invoke(HWND hwnd, const std::function<void()>& f) {
    HWND root = hwnd ? ::GetAncestor(hwnd, GA_ROOT) : nullptr;
    if (!root || !::IsWindow(root))
        return;
    if (::GetWindowThreadProcessId(root, nullptr) == ::GetCurrentThreadId()) {
        run_queued(root);
        f();
        return;
    }
    ::SendMessageW(root, WM_FENWA_INVOKE, 0, reinterpret_cast<LPARAM>(&f));
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_FENWA_INVOKE) {
        run_queued(hwnd);
        (*reinterpret_cast<const std::function<void()>*>(lparam))();
        return TRUE;
    }
    if (message == WM_FENWA_QUEUED) {
        run_queued_paced(hwnd);
        return TRUE;
    }
    if (message == WM_TIMER && wparam == k_queue_timer) {
        on_queue_timer(hwnd);
        return TRUE;
    }
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lparam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->m_hWnd = hwnd;
        register_queue(hwnd);
        return self->OnInitDialog();
    }
    // The controls still exist here: whatever was queued for them reaches them.
    if (message == WM_DESTROY)
        run_queued(hwnd);
    if (message == WM_NCDESTROY)
        unregister_queue(hwnd);
    self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self)
        return FALSE;
    INT_PTR result = FALSE;
    const bool handled = self->OnMessage(message, wparam, lparam, result);
    if (message == WM_NCDESTROY)
        self->m_hWnd = nullptr;
    if (!handled)
        return FALSE;
    // Messages whose answer is their return value must not go through DWLP_MSGRESULT.
    switch (message) {
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
        return result;
    default:
        ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
}
