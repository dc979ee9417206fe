#pragma once
// Progress bar over the platform's progress control, which keeps the position; this class
// keeps the range and paints everything itself: flat, pill or shaded, with an optional text,
// border, marquee block and seeking. The worker thread may call SetRange, SetPos, GetPos and
// SetTrackColor: they run on the window's thread; SetPos is queued and returns at once.
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "controls/progress_geometry.h"
#include "controls/subclass_win.h"
#include "util/unique_handle.h"

// Sent to the parent while the user drags the position: wparam m_notifyParam, lparam the
// new position.
constexpr UINT WM_PROGRESS_SEEK = WM_USER + 100;

class CMacProgressCtrl : public CSubclassWnd {
public:
    CMacProgressCtrl();

    void SetRange(int lower, int upper);
    void SetPos(int position);
    int GetPos() const;
    void SetTrackColor(COLORREF colour);
    // Starts or stops the marquee block (timer 100, every 10 ms).
    void SetMarquee(bool on);

    int m_style = 0; // 0 flat, 1 pill
    bool m_shaded = false;
    int m_lower = 0;
    int m_upper = 100;
    COLORREF m_barColor = RGB(0, 255, 0);
    COLORREF m_trackColor;
    COLORREF m_backColor;
    bool m_showText = false;
    bool m_textFraction = false;
    std::wstring m_text;
    COLORREF m_textColor;
    COLORREF m_textColorTrack = RGB(0, 0, 0);
    bool m_twoColorText = false;
    bool m_textShadow = false;
    bool m_border = false;
    COLORREF m_borderColor = RGB(188, 188, 188);
    bool m_marquee = false;
    bool m_marqueeReverse = true;
    int m_marqueeWidth = 120;
    int m_marqueePos = 0;
    std::vector<COLORREF> m_marqueeColors;
    bool m_seekable = false;
    int m_notifyParam = 0;
    bool m_autoHide = false;

protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;

private:
    void make_pens();
    void paint(HDC dc) override;
    void paint_text(HDC dc, const RECT& client, int bar_right);
    void seek_to(int x);
    int read_pos() const;

    progress_shades m_shades;
    unique_hgdiobj m_pens[8];
    unique_hgdiobj m_font;
    bool m_dragging = false;
    // Counts SetPos calls; a queued position that a later one replaces is skipped.
    std::atomic<unsigned> m_pos_ticket{0};
};
