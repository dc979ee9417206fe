#pragma once
// The log view: a read-only rich-text view that appends coloured lines, optionally with a
// timestamp. Any thread may call it; the work runs on the window's own thread. AddLine and
// AppendText are queued and return at once; lines keep their order.
#include <windows.h>

#include <atomic>
#include <string>

#include "controls/subclass_win.h"

class CRichEditCtrlEx : public CSubclassWnd {
public:
    CRichEditCtrlEx();

    // Colour -1 stands for m_textColor.
    void AddLine(COLORREF colour, const wchar_t* format, ...);
    void AppendText(COLORREF colour, const std::wstring& text);
    // The control's own notices: the timestamp always, leading line breaks after it.
    std::wstring AddNotice(const std::wstring& text, COLORREF colour, bool line_break);
    std::wstring GetText() const;
    void ClearAll();
    void SetFontName(const std::wstring& face);
    void SetFontBold(bool bold);
    void SetFontSize(int points);
    void SetLineSpacingAll(int rule);
    void SetBackColor(COLORREF colour);

    COLORREF m_textColor;
    COLORREF m_backColor = RGB(255, 255, 255);
    bool m_showLog = true;
    bool m_showTime = true;
    bool m_useContextMenu = true;
    int m_maxLength = 0;
    int m_wheelLines = 2;
    bool m_autoScroll = true;

protected:
    LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam) override;

private:
    void context_menu();
    void set_line_spacing(int rule);
    int line_spacing_rule() const;
    void timestamp();
    // `scroll`: follow the end, which only the last of a run of queued appends needs to do.
    void append_on_ui(COLORREF colour, const std::wstring& text, bool scroll);
    // True when the text after the last paragraph break is only blanks.
    bool at_fresh_line() const;
    void insert(const std::wstring& text, COLORREF colour, bool coloured);
    void set_char_format(DWORD mask, const wchar_t* face, int height_twips, bool bold);

    // Counts appends; a queued append that is not the latest leaves the scrolling to it.
    std::atomic<unsigned> m_append_ticket{0};
};
