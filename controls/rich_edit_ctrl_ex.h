#pragma once
// The log view: a read-only rich-text view that appends coloured lines, optionally with a
// timestamp. Any thread may call it; the work runs on the window's own thread. AddLine and
// AppendText are queued and return at once; lines keep their order.
#include <windows.h>

#include <richedit.h>

#include <atomic>
#include <string>

#include "controls/subclass_win.h"
#include "util/unique_handle.h"

class CRichEditCtrlEx : public CSubclassWnd {
public:
    CRichEditCtrlEx();
    ~CRichEditCtrlEx() override;

    // Colour -1 stands for m_textColor. A line that cannot be built for want of memory is
    // dropped.
    void AddLine(COLORREF colour, const wchar_t* format, ...);
    void AppendText(COLORREF colour, const std::wstring& text);
    // The control's own notices: the timestamp always, leading line breaks after it.
    std::wstring AddNotice(const std::wstring& text, COLORREF colour, bool line_break);
    std::wstring GetText() const;
    void ClearAll();
    // Each copies into m_logFont, recreates m_font and sets it into the window.
    void SetFontName(const std::wstring& face);
    void SetFontSize(int points);
    void SetFontBold(bool bold);
    void SetLineSpacingAll(int rule);
    void SetBackColor(COLORREF colour);

    COLORREF m_textColor;
    COLORREF m_backColor = RGB(255, 255, 255);
    bool m_showLog = true;
    bool m_showTime = true;
    bool m_useContextMenu = true;
    int m_maxLength = 0;
    int m_wheelLines = 2;
    // Cleared for good once the user has moved the caret or dragged the thumb.
    bool m_autoScroll = true;
    WORD m_alignment = PFA_LEFT;
    // Filled when the window is attached.
    LOGFONTW m_logFont = {};

protected:
    void PreSubclassWindow() override;
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
    void recreate_font();
    // Horizontal position of the caret in client pixels, where the user left it.
    int caret_x() const;
    // Step of every append before anything moves the selection.
    void note_user_position();
    // Selection to the end, that paragraph aligned to m_alignment, the control modified.
    void to_end_paragraph();
    void clear_text();

    // Counts appends; a queued append that is not the latest leaves the scrolling to it.
    std::atomic<unsigned> m_append_ticket{0};
    unique_hgdiobj m_font;
    // What the window reported at attach time, given back before m_font goes.
    HFONT m_attach_font = nullptr;
};
