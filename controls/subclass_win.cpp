#include "controls/subclass_win.h"

#include <mutex>
#include <unordered_map>

#include "controls/memory_dc_win.h"
#include "util/dc_scope_win.h"

namespace {

struct subclass_entry {
    CSubclassWnd* object = nullptr; // null once the object let go under another subclass
    WNDPROC original = nullptr;
};

// Never destroyed: a window may still get a message while static objects are torn down.
std::mutex& g_entries_mutex = *new std::mutex();
std::unordered_map<HWND, subclass_entry>& g_entries =
    *new std::unordered_map<HWND, subclass_entry>();

subclass_entry find_entry(HWND hwnd) {
    std::lock_guard<std::mutex> lock(g_entries_mutex);
    const auto it = g_entries.find(hwnd);
    return it == g_entries.end() ? subclass_entry{} : it->second;
}

} // namespace

CSubclassWnd::~CSubclassWnd() {
    UnsubclassWindow();
}

bool CSubclassWnd::SubclassDlgItem(int id, HWND parent) {
    return SubclassWindow(::GetDlgItem(parent, id));
}

bool CSubclassWnd::SubclassWindow(HWND hwnd) {
    if (!hwnd || m_hWnd || !::IsWindow(hwnd))
        return false;
    {
        std::lock_guard<std::mutex> lock(g_entries_mutex);
        if (g_entries.count(hwnd))
            return false;
        const LONG_PTR previous = ::SetWindowLongPtrW(
            hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CSubclassWnd::thunk));
        if (!previous)
            return false;
        m_original = reinterpret_cast<WNDPROC>(previous);
        g_entries[hwnd] = subclass_entry{this, m_original};
    }
    m_hWnd = hwnd;
    m_root = ::GetAncestor(hwnd, GA_ROOT);
    PreSubclassWindow();
    return true;
}

void CSubclassWnd::UnsubclassWindow() {
    if (m_hWnd) {
        std::lock_guard<std::mutex> lock(g_entries_mutex);
        const auto it = g_entries.find(m_hWnd);
        if (it != g_entries.end() && it->second.object == this) {
            const bool on_top = ::GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC) ==
                                reinterpret_cast<LONG_PTR>(&CSubclassWnd::thunk);
            if (on_top) {
                ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_original));
                g_entries.erase(it);
            } else {
                // Another subclass sits above ours and calls our procedure: keep passing its
                // messages on until the window is destroyed.
                it->second.object = nullptr;
            }
        }
    }
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
    return ::CallWindowProcW(m_original, m_hWnd, message, wparam, lparam);
}

LRESULT CALLBACK CSubclassWnd::thunk(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    const subclass_entry entry = find_entry(hwnd);
    if (!entry.original)
        return ::DefWindowProcW(hwnd, message, wparam, lparam);
    if (message == WM_NCDESTROY) {
        const LRESULT result = ::CallWindowProcW(entry.original, hwnd, message, wparam, lparam);
        {
            std::lock_guard<std::mutex> lock(g_entries_mutex);
            g_entries.erase(hwnd);
        }
        if (entry.object)
            entry.object->m_hWnd = nullptr;
        return result;
    }
    if (!entry.object)
        return ::CallWindowProcW(entry.original, hwnd, message, wparam, lparam);
    return entry.object->WindowProc(message, wparam, lparam);
}

bool CSubclassWnd::paint_message(UINT message, WPARAM wparam, LRESULT& result) {
    switch (message) {
    case WM_PAINT: {
        paint_scope scope(m_hWnd);
        const RECT client = client_rect();
        {
            CMemoryDC mem(scope.dc(), &client);
            paint(mem);
        }
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
