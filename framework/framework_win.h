#pragma once
// The little of an application framework the launcher needs: one application object with
// InitInstance/ExitInstance and profile strings, and modal dialogs from templates.
#include <windows.h>

#include <functional>
#include <string>

#include "util/unique_handle.h"

// Carries a std::function<void()>* in LPARAM to a dialog's thread, which runs it.
constexpr UINT WM_FENWA_INVOKE = WM_APP + 0x3F0;
// Tells a dialog's thread that calls queued by ui_post wait for it.
constexpr UINT WM_FENWA_QUEUED = WM_APP + 0x3F1;

// Runs `f` on the thread that owns the top-level window of `hwnd` and waits for it; at once
// when the caller is that thread. Calls queued for that window by ui_post run first. Does
// nothing when the window is gone.
void ui_invoke(HWND hwnd, const std::function<void()>& f);

// Queues `f` for the thread that owns the dialog `root` and returns at once: the calls run
// in the order they were queued, each before any later ui_invoke for that dialog. A caller
// on that thread runs `f` at once, after whatever is still queued. Dropped when the dialog is
// gone (its queue is emptied while it is destroyed). `root` must be a CDialog's window,
// unless the caller owns it. Whatever `f` captures by reference must outlive the dialog.
void ui_post(HWND root, std::function<void()> f);

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();

    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return FALSE; }
    virtual int ExitInstance() { return 0; }

    // Profile entries live under HKEY_CURRENT_USER\Software\<key>\<app name>\<section>.
    void SetRegistryKey(const wchar_t* key);
    BOOL WriteProfileString(const wchar_t* section, const wchar_t* entry, const wchar_t* value);
    std::wstring GetProfileString(const wchar_t* section, const wchar_t* entry,
                                  const wchar_t* default_value = L"") const;
    BOOL WriteProfileInt(const wchar_t* section, const wchar_t* entry, int value);
    UINT GetProfileInt(const wchar_t* section, const wchar_t* entry, int default_value) const;

    static CWinApp* current() { return s_current; }

    HINSTANCE m_hInstance = nullptr;
    std::wstring m_pszAppName;     // the executable's base name
    std::wstring m_pszRegistryKey; // empty until SetRegistryKey
    HWND m_hMainWnd = nullptr;

private:
    std::wstring section_key(const wchar_t* section) const;
    // The section's key for reading, or created for writing; empty on any failure.
    unique_hkey open_section(const wchar_t* section, const wchar_t* entry, bool write) const;
    static CWinApp* s_current;
};

// Message box with the application's name as caption, owned by the main window.
int AfxMessageBox(const std::wstring& text, UINT type = MB_OK);
HINSTANCE AfxGetResourceHandle();
std::wstring load_string(UINT id);

// Runs the application: InitInstance, then ExitInstance, whose result is the exit code.
int AfxWinMain(HINSTANCE instance);

class CDialog {
public:
    explicit CDialog(UINT template_id, HWND parent = nullptr);
    virtual ~CDialog() = default;

    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    INT_PTR DoModal();
    // Ends the modal loop; may be called from any thread.
    void EndDialog(INT_PTR result);

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // Returns true when the message was handled; `result` is then the procedure's answer.
    virtual bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result);

    HWND m_hWnd = nullptr;
    UINT m_template_id;
    HWND m_parent;

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
};
