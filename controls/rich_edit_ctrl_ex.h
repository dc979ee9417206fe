#pragma once
// The log view: a read-only rich-text view that appends coloured lines, optionally with a
// timestamp. Any thread may call it; the work runs on the window's own thread.
#include <windows.h>

#include <string>

class CRichEditCtrlEx {
public:
    CRichEditCtrlEx();

    void SubclassDlgItem(int id, HWND parent);
    HWND GetSafeHwnd() const { return m_hWnd; }

    // Colour -1 stands for m_textColor.
    std::wstring AddLine(COLORREF colour, const wchar_t* format, ...);
    std::wstring AppendText(COLORREF colour, const std::wstring& text);
    std::wstring GetText() const;
    void SetFontSize(int points);
    void SetLineSpacingAll(int rule);
    void SetBackColor(COLORREF colour);

    COLORREF m_textColor;
    COLORREF m_backColor = RGB(255, 255, 255);
    bool m_showLog = true;
    bool m_showTime = true;
    bool m_useContextMenu = true;
    int m_maxLength = 0;

private:
    std::wstring append_on_ui(COLORREF colour, const std::wstring& text);
    void insert(const std::wstring& text, COLORREF colour, bool coloured);

    HWND m_hWnd = nullptr;
};
