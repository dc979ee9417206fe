#include "controls/mac_progress_ctrl.h"

#include <commctrl.h>

#include "app/framework_win.h"

void CMacProgressCtrl::SubclassDlgItem(int id, HWND parent) {
    m_hWnd = ::GetDlgItem(parent, id);
}

void CMacProgressCtrl::SetRange(int lower, int upper) {
    ui_invoke(m_hWnd, [&] {
        ::SendMessageW(m_hWnd, PBM_SETRANGE32, static_cast<WPARAM>(lower), upper);
        m_lower = lower;
        m_upper = upper;
    });
}

void CMacProgressCtrl::SetPos(int position) {
    ui_invoke(m_hWnd, [&] {
        ::SendMessageW(m_hWnd, PBM_SETPOS, static_cast<WPARAM>(position), 0);
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
    });
}

int CMacProgressCtrl::GetPos() const {
    int position = 0;
    ui_invoke(m_hWnd,
              [&] { position = static_cast<int>(::SendMessageW(m_hWnd, PBM_GETPOS, 0, 0)); });
    return position;
}

void CMacProgressCtrl::SetTrackColor(COLORREF colour) {
    ui_invoke(m_hWnd, [&] {
        m_trackColor = colour;
        ::SendMessageW(m_hWnd, PBM_SETBKCOLOR, 0, colour);
        ::InvalidateRect(m_hWnd, nullptr, TRUE);
    });
}

void CMacProgressCtrl::SetBarColor(COLORREF colour) {
    ui_invoke(m_hWnd, [&] {
        m_barColor = colour;
        ::SendMessageW(m_hWnd, PBM_SETBARCOLOR, 0, colour);
    });
}

void CMacProgressCtrl::SetBackColor(COLORREF colour) {
    ui_invoke(m_hWnd, [&] {
        m_backColor = colour;
        ::InvalidateRect(m_hWnd, nullptr, TRUE);
    });
}
