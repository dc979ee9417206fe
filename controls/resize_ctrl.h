#pragma once
// Moves and resizes a window's child controls when the window is resized: each control has
// four proportions (left, top, width, height) of the size change, in parts of m_maxPart, and
// the fractions of pixels are carried so that repeated resizes add up exactly.
#include <windows.h>

#include <vector>

#include "controls/resize_layout.h"

class CResizeCtrl {
public:
    CResizeCtrl() = default;
    ~CResizeCtrl();
    CResizeCtrl(const CResizeCtrl&) = delete;
    CResizeCtrl& operator=(const CResizeCtrl&) = delete;

    // Once per object; false when already created.
    bool Create(HWND window);
    bool Enable(bool on);
    // False (after a message box) for bad proportions or a control that is not a window.
    bool Add(HWND control, int id, int left, int top, int width, int height);
    bool Add(int id, int left, int top, int width, int height);

    void SetMinTrackSize(SIZE size) { m_minTrack = size; }
    void SetMaxTrackSize(SIZE size) { m_maxTrack = size; }
    void SetGrip(bool on);

    struct item {
        HWND control;
        resize_item_state state;
    };

    HWND m_hWnd = nullptr;
    bool m_hasSizingBorder = false;
    bool m_enabled = false;
    int m_maxPart = 100;
    SIZE m_size = {0, 0};
    std::vector<item> m_items;
    SIZE m_minTrack = {-1, -1};
    SIZE m_maxTrack = {-1, -1};
    bool m_grip = false;
    RECT m_gripRect = {};

private:
    static LRESULT CALLBACK proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                 DWORD_PTR data);
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
    void layout(int cx, int cy);
    void set_sizing_border(bool on);
    void update_grip_rect();

    bool m_created = false;
    bool m_inLayout = false;
    bool m_inSizing = false;
    int m_sizingHit = 0;
    POINT m_sizingOffset = {0, 0};
};
