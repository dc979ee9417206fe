#include "controls/subclass_win.h"

#include <commctrl.h>

#include "controls/memory_dc_win.h"

namespace {
constexpr UINT_PTR k_subclass_id = 0xF3A0;
}

CSubclassWnd::~CSubclassWnd() {
    UnsubclassWindow();
}

bool CSubclassWnd::SubclassDlgItem(int id, HWND parent) {
    return SubclassWindow(::GetDlgItem(parent, id));
}

bool CSubclassWnd::SubclassWindow(HWND hwnd) {
    if (!hwnd || m_hWnd)
        return false;
    if (!::SetWindowSubclass(hwnd, &CSubclassWnd::thunk, k_subclass_id,
                             reinterpret_cast<DWORD_PTR>(this)))
        return false;
    m_hWnd = hwnd;
    m_root = ::GetAncestor(hwnd, GA_ROOT);
    PreSubclassWindow();
    return true;
}

void CSubclassWnd::UnsubclassWindow() {
    if (m_hWnd && ::IsWindow(m_hWnd))
        ::RemoveWindowSubclass(m_hWnd, &CSubclassWnd::thunk, k_subclass_id);
    m_hWnd = nullptr;
    m_root = nullptr;
}

RECT CSubclassWnd::client_rect() const {
    RECT r = {};
    if (m_hWnd)
        ::GetClientRect(m_hWnd, &r);
    return r;
}

void CSubclassWnd::Invalidate(bool erase) const {
    if (m_hWnd)
        ::InvalidateRect(m_hWnd, nullptr, erase ? TRUE : FALSE);
}

void CSubclassWnd::RedrawNow() const {
    if (m_hWnd)
        ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

LRESULT CSubclassWnd::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    return Default(message, wparam, lparam);
}

LRESULT CSubclassWnd::Default(UINT message, WPARAM wparam, LPARAM lparam) {
    return ::DefSubclassProc(m_hWnd, message, wparam, lparam);
}

LRESULT CALLBACK CSubclassWnd::thunk(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                     UINT_PTR, DWORD_PTR data) {
    auto* self = reinterpret_cast<CSubclassWnd*>(data);
    if (message == WM_NCDESTROY) {
        const LRESULT result = ::DefSubclassProc(hwnd, message, wparam, lparam);
        ::RemoveWindowSubclass(hwnd, &CSubclassWnd::thunk, k_subclass_id);
        self->m_hWnd = nullptr;
        return result;
    }
    return self->WindowProc(message, wparam, lparam);
}

bool CSubclassWnd::paint_message(UINT message, WPARAM wparam, LRESULT& result) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = ::BeginPaint(m_hWnd, &ps);
        const RECT client = client_rect();
        {
            CMemoryDC mem(dc, &client);
            paint(mem);
        }
        ::EndPaint(m_hWnd, &ps);
        result = 0;
        return true;
    }
    case WM_ERASEBKGND:
        result = 1;
        return true;
    case WM_PRINTCLIENT:
        paint(reinterpret_cast<HDC>(wparam));
        result = 0;
        return true;
    default:
        return false;
    }
}
