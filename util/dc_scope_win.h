#pragma once
// Device contexts and the objects selected into them, each owned by a scope. A selection into
// a context this code owns is made from the owning scope, so it is declared after the context
// and put back before the context is released.
#include <windows.h>

#include "util/unique_handle.h"

// GetDC, or GetWindowDC for the whole window with its frame; ReleaseDC at the end. A null
// window is the screen.
class window_dc {
public:
    enum area { client, whole_window };
    explicit window_dc(HWND hwnd, area a = client)
        : m_hwnd(hwnd), m_dc(a == whole_window ? ::GetWindowDC(hwnd) : ::GetDC(hwnd)) {}
    ~window_dc() {
        if (m_dc)
            ::ReleaseDC(m_hwnd, m_dc);
    }
    window_dc(const window_dc&) = delete;
    window_dc& operator=(const window_dc&) = delete;
    HDC dc() const { return m_dc; }
    explicit operator bool() const { return m_dc != nullptr; }

private:
    HWND m_hwnd;
    HDC m_dc;
};

// BeginPaint and EndPaint as one scope: the paint ends however the handler leaves.
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

// A GDI object selected into a context for one scope.
class gdi_select_scope {
public:
    // A context the caller lends for the whole call, such as a drawing function's parameter.
    gdi_select_scope(HDC dc, HGDIOBJ object)
        : m_dc(dc), m_old(object ? ::SelectObject(dc, object) : nullptr) {}
    // Contexts owned here: the owner exists before, and so outlives, the selection.
    gdi_select_scope(const window_dc& owner, HGDIOBJ object)
        : gdi_select_scope(owner.dc(), object) {}
    gdi_select_scope(const paint_scope& owner, HGDIOBJ object)
        : gdi_select_scope(owner.dc(), object) {}
    gdi_select_scope(const unique_memory_dc& owner, HGDIOBJ object)
        : gdi_select_scope(owner.get(), object) {}
    // A temporary owner would let its context go before the object is put back.
    gdi_select_scope(window_dc&&, HGDIOBJ) = delete;
    gdi_select_scope(paint_scope&&, HGDIOBJ) = delete;
    gdi_select_scope(unique_memory_dc&&, HGDIOBJ) = delete;
    ~gdi_select_scope() {
        if (m_old)
            ::SelectObject(m_dc, m_old);
    }
    gdi_select_scope(const gdi_select_scope&) = delete;
    gdi_select_scope& operator=(const gdi_select_scope&) = delete;

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

// The height a LOGFONT takes for `points` on the context's device (negative: the character
// height, not the cell's). 96 dots per inch when the context gives none.
inline LONG font_height_for_points(HDC dc, int points) {
    const int dpi = dc ? ::GetDeviceCaps(dc, LOGPIXELSY) : 0;
    return -::MulDiv(points, dpi > 0 ? dpi : 96, 72);
}
