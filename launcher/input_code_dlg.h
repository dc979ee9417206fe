#pragma once
// The access-code dialog: the user types the code a support agent gave them; Connect asks the
// main window to exchange it for a title key. Ends with IDOK only once a title key of the
// expected form came back, IDCANCEL when the user gives up.
#include <windows.h>

#include <string>

#include "app/framework_win.h"
#include "util/unique_handle.h"

class CInputCodeDlg : public CDialog {
public:
    CInputCodeDlg();

    // The title key of the accepted code; empty until a look-up succeeded.
    std::wstring m_title_key;

    // Colours of theme 9 that the dialog reads: background, title, accent.
    static constexpr COLORREF k_back = RGB(255, 255, 255);
    static constexpr COLORREF k_title = RGB(18, 24, 58);
    static constexpr COLORREF k_accent = RGB(32, 178, 174);
    static constexpr COLORREF k_band = RGB(59, 70, 92);
    static constexpr COLORREF k_warning = RGB(253, 128, 126);
    static constexpr COLORREF k_border_idle = RGB(211, 211, 211);

protected:
    BOOL OnInitDialog() override;
    void OnOK() override { OnBnClickedOk(); }
    bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;

private:
    void OnBnClickedOk();
    void on_code_changed();
    std::wstring code_text() const;
    void set_code_border(COLORREF colour);
    void show_warning(bool show);
    void paint();

    // Plain controls stand in until the dialog gets its own painted ones.
    HWND m_instruction = nullptr;
    HWND m_warning = nullptr;
    HWND m_code = nullptr;
    HWND m_connect = nullptr;

    // The code box's own border, drawn by the dialog around the box.
    bool m_own_border = true;
    COLORREF m_border_colour = k_border_idle;

    unique_hgdiobj m_back_brush;
    unique_hgdiobj m_code_brush;
    unique_hgdiobj m_label_font;
    unique_hgdiobj m_code_font;
    unique_hgdiobj m_title_font;
    unique_hicon m_icon;
};
