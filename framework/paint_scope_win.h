#pragma once
// BeginPaint and EndPaint as one scope: the paint ends however the handler leaves.
#include <windows.h>

class paint_scope {
public:
    explicit paint_scope(HWND hwnd) : m_hwnd(hwnd) { m_dc = ::BeginPaint(hwnd, &m_ps); }
    ~paint_scope() { ::EndPaint(m_hwnd, &m_ps); }
    paint_scope(const paint_scope&) = delete;
    paint_scope& operator=(const paint_scope&) = delete;
    HDC dc() const { return m_dc; }

private:
    HWND m_hwnd;
    PAINTSTRUCT m_ps{};
    HDC m_dc = nullptr;
};
