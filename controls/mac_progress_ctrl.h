#pragma once
// Progress bar control; for now over the platform's progress bar.
#include <windows.h>

class CMacProgressCtrl {
public:
    void SubclassDlgItem(int id, HWND parent);
    HWND GetSafeHwnd() const { return m_hWnd; }

    void SetRange(int lower, int upper);
    void SetPos(int position);
    int GetPos() const;
    void SetTrackColor(COLORREF colour);
    void SetBarColor(COLORREF colour);
    void SetBackColor(COLORREF colour);

    int m_lower = 0;
    int m_upper = 100;
    COLORREF m_trackColor = RGB(255, 255, 255);
    COLORREF m_barColor = RGB(65, 105, 225);
    COLORREF m_backColor = RGB(240, 240, 240);

private:
    HWND m_hWnd = nullptr;
};
