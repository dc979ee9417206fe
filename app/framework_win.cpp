#include "app/framework_win.h"

#include "util/unique_handle.h"
#include "util/win_util.h"

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

void ui_invoke(HWND hwnd, const std::function<void()>& f) {
    HWND root = hwnd ? ::GetAncestor(hwnd, GA_ROOT) : nullptr;
    if (!root || !::IsWindow(root))
        return;
    if (::GetWindowThreadProcessId(root, nullptr) == ::GetCurrentThreadId()) {
        f();
        return;
    }
    ::SendMessageW(root, WM_FENWA_INVOKE, 0, reinterpret_cast<LPARAM>(&f));
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_FENWA_INVOKE) {
        (*reinterpret_cast<const std::function<void()>*>(lparam))();
        return TRUE;
    }
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lparam);
        ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->m_hWnd = hwnd;
        return self->OnInitDialog();
    }
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
