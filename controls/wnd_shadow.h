#pragma once
// A soft drop shadow for a borderless top-level window: a layered, click-through pop-up owned
// by the parent, filled with a per-pixel-alpha picture of the parent's outline. The parent's
// procedure is extended so that the shadow follows its moves, sizes, shows and paints.
#include <windows.h>

#include "controls/shadow_geometry.h"

class CWndShadow {
public:
    CWndShadow() = default;
    ~CWndShadow();
    CWndShadow(const CWndShadow&) = delete;
    CWndShadow& operator=(const CWndShadow&) = delete;

    // Once per process; false when already done or without layered windows.
    static bool Initialize(HINSTANCE instance);
    static bool available();

    void Create(HWND parent);
    void SetSize(int size);
    void SetSharpness(int sharpness);
    void SetDarkness(int darkness);
    void SetPosition(int x, int y);
    void SetColor(COLORREF colour);
    void Show(HWND parent);
    void Update(HWND parent);

    HWND shadow_window() const { return m_hWnd; }
    HWND parent() const { return m_parent; }

    enum status_bits { ss_enabled = 1, ss_visible = 2, ss_parent_visible = 4, ss_composition = 8 };

    HWND m_hWnd = nullptr;
    int m_status = 0;
    unsigned char m_darkness = 150;
    unsigned char m_sharpness = 5;
    signed char m_size = 0;
    signed char m_xOffset = 5;
    signed char m_yOffset = 5;
    WORD m_lastWidth = 0;
    WORD m_lastHeight = 0;
    bool m_updatePending = false;
    COLORREF m_color = RGB(0, 0, 0);

private:
    static LRESULT CALLBACK parent_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                        UINT_PTR id, DWORD_PTR data);
    LRESULT handle(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    shadow_params params() const;

    HWND m_parent = nullptr;
};
