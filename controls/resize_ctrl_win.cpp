#include "controls/resize_ctrl.h"
#include "util/text_util_win.h"
#include "util/dc_scope_win.h"

#include <commctrl.h>

namespace {
constexpr UINT_PTR k_subclass_id = 0xF3A1;
const wchar_t* const k_prop = L"___CResizeCtrl___Class___";

// What SetWindowPos places the window in: a child's parent, the screen (nullptr) for a
// top-level window. GetParent would answer an owned window's owner.
HWND placement_parent(HWND hwnd) {
    return (::GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD) ? ::GetAncestor(hwnd, GA_PARENT)
                                                          : nullptr;
}
} // namespace

CResizeCtrl::~CResizeCtrl() {
    Enable(false);
}

bool CResizeCtrl::Create(HWND window) {
    if (m_created || !window)
        return false;
    m_created = true;
    m_hWnd = window;
    m_items.clear();
    m_maxPart = 100;
    m_inLayout = m_inSizing = false;
    m_minTrack = m_maxTrack = {-1, -1};
    m_hasSizingBorder = (::GetWindowLongW(window, GWL_STYLE) & WS_THICKFRAME) != 0;
    return Enable(true);
}

void CResizeCtrl::set_sizing_border(bool on) {
    // The client area stays where it is: the window rectangle grows or shrinks around it.
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    ::MapWindowPoints(m_hWnd, placement_parent(m_hWnd), reinterpret_cast<POINT*>(&client), 2);
    LONG style = ::GetWindowLongW(m_hWnd, GWL_STYLE);
    style = on ? (style | WS_THICKFRAME) : (style & ~WS_THICKFRAME);
    ::SetWindowLongW(m_hWnd, GWL_STYLE, style);
    RECT window = client;
    ::AdjustWindowRectEx(&window, static_cast<DWORD>(style), ::GetMenu(m_hWnd) != nullptr,
                         static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE)));
    ::SetWindowPos(m_hWnd, nullptr, window.left, window.top, window.right - window.left,
                   window.bottom - window.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

bool CResizeCtrl::Enable(bool on) {
    if (!m_hWnd || on == m_enabled)
        return m_enabled == on;
    if (on) {
        m_sizingHit = 0;
        if (!m_hasSizingBorder)
            set_sizing_border(true);
        RECT client;
        ::GetClientRect(m_hWnd, &client);
        m_size = {client.right, client.bottom};
        ::SetPropW(m_hWnd, k_prop, this);
        ::SetWindowSubclass(m_hWnd, &CResizeCtrl::proc, k_subclass_id,
                            reinterpret_cast<DWORD_PTR>(this));
        m_enabled = true;
    } else {
        if (::IsWindow(m_hWnd)) {
            ::RemoveWindowSubclass(m_hWnd, &CResizeCtrl::proc, k_subclass_id);
            ::RemovePropW(m_hWnd, k_prop);
            if (!m_hasSizingBorder && (::GetWindowLongW(m_hWnd, GWL_STYLE) & WS_THICKFRAME))
                set_sizing_border(false);
        }
        m_enabled = false;
    }
    return true;
}

bool CResizeCtrl::Add(int id, int left, int top, int width, int height) {
    return Add(m_hWnd ? ::GetDlgItem(m_hWnd, id) : nullptr, id, left, top, width, height);
}

bool CResizeCtrl::Add(HWND control, int id, int left, int top, int width, int height) {
    const std::wstring message =
        resize_parts_message(left, top, width, height, control && ::IsWindow(control), m_maxPart);
    if (!message.empty()) {
        const std::wstring text = format_text(message.c_str(), id);
        ::MessageBoxW(m_hWnd, text.c_str(), L"CResizeCtrl", MB_OK);
        return false;
    }
    item it{control, {}};
    it.state.part[edge_left] = left;
    it.state.part[edge_top] = top;
    it.state.part[edge_width] = width;
    it.state.part[edge_height] = height;
    m_items.push_back(it);
    return true;
}

void CResizeCtrl::SetGrip(bool on) {
    m_grip = on;
    update_grip_rect();
    if (m_hWnd)
        ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CResizeCtrl::update_grip_rect() {
    if (!m_hWnd)
        return;
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    m_gripRect = {client.right - ::GetSystemMetrics(SM_CXVSCROLL),
                  client.bottom - ::GetSystemMetrics(SM_CYHSCROLL), client.right, client.bottom};
}

void CResizeCtrl::layout(int cx, int cy) {
    if (m_inLayout)
        return;
    m_inLayout = true;
    if (!m_items.empty() && (cx != m_size.cx || cy != m_size.cy)) {
        const int dx = cx - m_size.cx;
        const int dy = cy - m_size.cy;
        HDWP defer = ::BeginDeferWindowPos(static_cast<int>(m_items.size()));
        for (item& it : m_items) {
            if (!::IsWindow(it.control))
                continue;
            RECT r;
            ::GetWindowRect(it.control, &r);
            ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
            resize_box box{r.left, r.top, r.right - r.left, r.bottom - r.top};
            if (resize_step(it.state, box, dx, dy, m_maxPart) && defer)
                defer = ::DeferWindowPos(defer, it.control, nullptr, box.left, box.top, box.width,
                                         box.height, SWP_NOZORDER | SWP_NOACTIVATE);
        }
        if (defer)
            ::EndDeferWindowPos(defer);
    }
    m_size = {cx, cy};
    m_inLayout = false;
}

LRESULT CALLBACK CResizeCtrl::proc(HWND, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                   DWORD_PTR data) {
    return reinterpret_cast<CResizeCtrl*>(data)->handle(message, wparam, lparam);
}

LRESULT CResizeCtrl::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    HWND hwnd = m_hWnd;
    switch (message) {
    case WM_NCHITTEST:
        if (m_grip) {
            POINT pt = {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
            ::ScreenToClient(hwnd, &pt);
            if (::PtInRect(&m_gripRect, pt))
                return HTBOTTOMRIGHT;
        }
        break;
    case WM_PAINT:
        if (m_grip) {
            const LRESULT r = ::DefSubclassProc(hwnd, message, wparam, lparam);
            window_dc dc(hwnd);
            ::DrawFrameControl(dc.dc(), &m_gripRect, DFC_SCROLL, DFCS_SCROLLSIZEGRIP);
            return r;
        }
        break;
    case WM_SIZE: {
        const LRESULT r = ::DefSubclassProc(hwnd, message, wparam, lparam);
        if (wparam != SIZE_MINIMIZED)
            layout(static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam)));
        if (m_grip) {
            ::InvalidateRect(hwnd, &m_gripRect, TRUE);
            update_grip_rect();
        }
        return r;
    }
    case WM_GETMINMAXINFO: {
        const LRESULT r = ::DefSubclassProc(hwnd, message, wparam, lparam);
        auto* mmi = reinterpret_cast<MINMAXINFO*>(lparam);
        if (m_minTrack.cx == -1)
            m_minTrack = {mmi->ptMinTrackSize.x, mmi->ptMinTrackSize.y};
        if (m_maxTrack.cx == -1)
            m_maxTrack = {mmi->ptMaxTrackSize.x, mmi->ptMaxTrackSize.y};
        mmi->ptMinTrackSize = {m_minTrack.cx, m_minTrack.cy};
        mmi->ptMaxTrackSize = {m_maxTrack.cx, m_maxTrack.cy};
        return r;
    }
    case WM_DESTROY: {
        Enable(false);
        return ::DefSubclassProc(hwnd, message, wparam, lparam);
    }
    case WM_NCLBUTTONDOWN:
        if (!m_hasSizingBorder && wparam >= HTLEFT && wparam <= HTBOTTOMRIGHT) {
            m_sizingHit = static_cast<int>(wparam);
            POINT pt = {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
            RECT w;
            ::GetWindowRect(hwnd, &w);
            const bool left = wparam == HTLEFT || wparam == HTTOPLEFT || wparam == HTBOTTOMLEFT;
            const bool top = wparam == HTTOP || wparam == HTTOPLEFT || wparam == HTTOPRIGHT;
            m_sizingOffset = {(left ? w.left : w.right) - pt.x, (top ? w.top : w.bottom) - pt.y};
            ::SetCapture(hwnd);
            return 0;
        }
        break;
    case WM_MOUSEMOVE:
        if (m_sizingHit && !m_inSizing) {
            m_inSizing = true;
            POINT pt;
            ::GetCursorPos(&pt);
            RECT w;
            ::GetWindowRect(hwnd, &w);
            RECT n = w;
            const WPARAM hit = static_cast<WPARAM>(m_sizingHit);
            if (hit == HTLEFT || hit == HTTOPLEFT || hit == HTBOTTOMLEFT)
                n.left = pt.x + m_sizingOffset.x;
            if (hit == HTRIGHT || hit == HTTOPRIGHT || hit == HTBOTTOMRIGHT)
                n.right = pt.x + m_sizingOffset.x;
            if (hit == HTTOP || hit == HTTOPLEFT || hit == HTTOPRIGHT)
                n.top = pt.y + m_sizingOffset.y;
            if (hit == HTBOTTOM || hit == HTBOTTOMLEFT || hit == HTBOTTOMRIGHT)
                n.bottom = pt.y + m_sizingOffset.y;
            if (!::EqualRect(&n, &w)) {
                ::MapWindowPoints(nullptr, placement_parent(hwnd), reinterpret_cast<POINT*>(&n), 2);
                ::SetWindowPos(hwnd, nullptr, n.left, n.top, n.right - n.left, n.bottom - n.top,
                               SWP_NOZORDER | SWP_NOACTIVATE);
            }
            m_inSizing = false;
            return 0;
        }
        break;
    case WM_LBUTTONUP:
        if (m_sizingHit) {
            ::ReleaseCapture();
            m_sizingHit = 0;
            return 0;
        }
        break;
    default:
        break;
    }
    return ::DefSubclassProc(hwnd, message, wparam, lparam);
}
