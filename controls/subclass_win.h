#pragma once
// A window whose procedure a C++ object extends: the object subclasses an existing window
// (a dialog's control) and sees its messages first, handing the rest to the original. The
// window's procedure is replaced directly and the object found in a table of our own: the
// platform's subclass chain keeps its data in a window property, which Wine looks up with a
// round trip to its server on every message.
#include <windows.h>

class CSubclassWnd {
public:
    CSubclassWnd() = default;
    virtual ~CSubclassWnd();

    CSubclassWnd(const CSubclassWnd&) = delete;
    CSubclassWnd& operator=(const CSubclassWnd&) = delete;

    // Must run on the window's own thread.
    bool SubclassDlgItem(int id, HWND parent);
    bool SubclassWindow(HWND hwnd);
    void UnsubclassWindow();

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetParent() const { return m_hWnd ? ::GetParent(m_hWnd) : nullptr; }
    RECT client_rect() const;
    void Invalidate(bool erase = false) const;
    // Invalidate, erase and update at once.
    void RedrawNow() const;

protected:
    virtual void PreSubclassWindow() {}
    virtual LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam);
    // The original procedure.
    LRESULT Default(UINT message, WPARAM wparam, LPARAM lparam);

    // Draws the whole client area, for controls that paint themselves.
    virtual void paint(HDC) {}
    // WM_PAINT through an off-screen buffer, WM_ERASEBKGND swallowed and WM_PRINTCLIENT, all
    // with paint(); false for any other message.
    bool paint_message(UINT message, WPARAM wparam, LRESULT& result);

    HWND m_hWnd = nullptr;
    // The top-level window at the time of subclassing: where a worker's calls are queued.
    HWND m_root = nullptr;

private:
    static LRESULT CALLBACK thunk(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

    WNDPROC m_original = nullptr;
};
