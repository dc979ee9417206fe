#pragma once
// The access-code dialog: the user types the code a support agent gave them; Connect asks the
// main window to exchange it for a title key. Ends with IDOK only once a title key of the
// expected form came back, IDCANCEL when the user gives up.
#include <windows.h>

#include <string>

#include "framework/framework_win.h"
#include "controls/colour.h"
#include "controls/gdi_button.h"
#include "controls/gdiplus_bitmap_win.h"
#include "controls/sc_edit.h"
#include "controls/sc_static.h"
#include "controls/wnd_shadow.h"
#include "util/unique_handle.h"

class CInputCodeDlg : public CDialog {
public:
    CInputCodeDlg();

    // The title key of the accepted code; empty until a look-up succeeded.
    std::wstring m_title_key;

    // The dark title band across the top, and its height.
    static constexpr COLORREF k_band = RGB(59, 70, 92);
    static constexpr int k_band_height = 32;
    static constexpr COLORREF k_warning = RGB(253, 128, 126);
    static constexpr COLORREF k_border_idle = RGB(211, 211, 211);
    // The window is this much taller than its background picture.
    static constexpr int k_below_picture = 212;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override { OnBnClickedOk(); }
    bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;

private:
    void OnBnClickedOk();
    void on_code_changed();
    std::wstring code_text() const;
    void set_code_border(argb_colour colour);
    void show_warning(bool show);
    void paint();

    // Theme 9: background, title and accent colours.
    CSCColorTheme m_theme;
    CSCGdiplusBitmap m_back;
    CWndShadow m_shadow;
    CSCStatic m_static_notice;
    CSCEdit m_edit_code;
    CSCStatic m_static_warning;
    CGdiButton m_button_ok;
    CGdiButton m_button_close;

    unique_hgdiobj m_title_font;
    unique_hicon m_icon;
};
