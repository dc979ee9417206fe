#include "controls/memory_dc_win.h"

CMemoryDC::CMemoryDC(HDC target, const RECT* rect) : m_target(target) {
    if (rect)
        m_rect = *rect;
    else
        ::GetClipBox(target, &m_rect);
    // A printer context gets the drawing directly.
    if (::GetDeviceCaps(target, TECHNOLOGY) == DT_RASPRINTER)
        return;
    const int w = m_rect.right - m_rect.left;
    const int h = m_rect.bottom - m_rect.top;
    if (w <= 0 || h <= 0)
        return;
    m_dc = ::CreateCompatibleDC(target);
    m_bitmap = ::CreateCompatibleBitmap(target, w, h);
    if (!m_dc || !m_bitmap) {
        if (m_bitmap)
            ::DeleteObject(m_bitmap);
        if (m_dc)
            ::DeleteDC(m_dc);
        m_dc = nullptr;
        m_bitmap = nullptr;
        return;
    }
    m_old_bitmap = ::SelectObject(m_dc, m_bitmap);
    ::SetMapMode(m_dc, ::GetMapMode(target));
    SIZE size;
    POINT point;
    ::GetWindowExtEx(target, &size);
    ::SetWindowExtEx(m_dc, size.cx, size.cy, nullptr);
    ::GetViewportExtEx(target, &size);
    ::SetViewportExtEx(m_dc, size.cx, size.cy, nullptr);
    // The buffer's origin is the rectangle's corner, so callers draw in target coordinates.
    ::GetWindowOrgEx(target, &point);
    ::SetWindowOrgEx(m_dc, m_rect.left, m_rect.top, nullptr);
    HBRUSH back = ::CreateSolidBrush(::GetBkColor(target));
    ::FillRect(m_dc, &m_rect, back);
    ::DeleteObject(back);
}

CMemoryDC::~CMemoryDC() {
    if (!m_dc)
        return;
    ::BitBlt(m_target, m_rect.left, m_rect.top, m_rect.right - m_rect.left,
             m_rect.bottom - m_rect.top, m_dc, m_rect.left, m_rect.top, SRCCOPY);
    ::SelectObject(m_dc, m_old_bitmap);
    ::DeleteObject(m_bitmap);
    ::DeleteDC(m_dc);
}
