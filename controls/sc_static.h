#pragma once
// Label control. Until the custom painting arrives it drives a plain static control; the
// operations are already the ones the dialogs use, and any thread may call them.
#include <windows.h>

#include <string>

class CSCStatic {
public:
    // Colour value meaning "keep the current text colour".
    static constexpr COLORREF keep_colour = 0x00FFFFFF;

    void SubclassDlgItem(int id, HWND parent);
    HWND GetSafeHwnd() const { return m_hWnd; }

    void SetText(const std::wstring& text, COLORREF colour = keep_colour);
    void SetTextF(const wchar_t* format, ...);
    std::wstring GetText() const;
    void SetFontSize(int points);
    void SetFontBold(bool bold);

    COLORREF m_textColor = RGB(0, 0, 0);
    COLORREF m_backColor = RGB(240, 240, 240);

private:
    void recreate_font();

    HWND m_hWnd = nullptr;
    int m_font_size = 9;
    bool m_bold = false;
    HFONT m_font = nullptr;
};
