#include "controls/rich_edit_ctrl_ex.h"

#include <richedit.h>

#include <cstdarg>

#include "app/framework_win.h"
#include "util/win_util.h"

CRichEditCtrlEx::CRichEditCtrlEx() : m_textColor(::GetSysColor(COLOR_GRAYTEXT)) {
    if (CWinApp* app = CWinApp::current())
        m_showTime = app->GetProfileInt(L"setting\\rich_edit", L"show time", 1) != 0;
}

void CRichEditCtrlEx::SubclassDlgItem(int id, HWND parent) {
    m_hWnd = ::GetDlgItem(parent, id);
}

std::wstring CRichEditCtrlEx::AddLine(COLORREF colour, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = format_text_v(format, args);
    va_end(args);
    text += L"\n";
    return AppendText(colour, text);
}

std::wstring CRichEditCtrlEx::AppendText(COLORREF colour, const std::wstring& text) {
    std::wstring result = text;
    ui_invoke(m_hWnd, [&] { result = append_on_ui(colour, text); });
    return result;
}

void CRichEditCtrlEx::insert(const std::wstring& text, COLORREF colour, bool coloured) {
    const LRESULT end = ::SendMessageW(m_hWnd, WM_GETTEXTLENGTH, 0, 0);
    ::SendMessageW(m_hWnd, EM_SETSEL, end, end);
    if (coloured) {
        CHARFORMAT2W cf = {};
        cf.cbSize = sizeof(cf);
        cf.dwMask = CFM_COLOR;
        cf.crTextColor = colour;
        ::SendMessageW(m_hWnd, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&cf));
    }
    ::SendMessageW(m_hWnd, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring CRichEditCtrlEx::append_on_ui(COLORREF colour, const std::wstring& text) {
    if (!m_hWnd || !m_showLog)
        return text;
    if (colour == static_cast<COLORREF>(-1))
        colour = m_textColor;

    std::wstring body = text;
    size_t leading = 0;
    while (leading < body.size() && body[leading] == L'\n')
        ++leading;
    body.erase(0, leading);
    if (leading > 0)
        insert(std::wstring(leading, L'\r'), 0, false);
    else if (body.empty())
        insert(L"\r", 0, false);

    const LRESULT length = ::SendMessageW(m_hWnd, WM_GETTEXTLENGTH, 0, 0);
    if (m_showTime) {
        // Only a fresh line gets a timestamp.
        const std::wstring all = GetText();
        const size_t last_break = all.find_last_of(L"\r\n");
        const std::wstring last_line =
            last_break == std::wstring::npos ? all : all.substr(last_break + 1);
        if (trim(last_line).empty()) {
            SYSTEMTIME st;
            ::GetLocalTime(&st);
            insert(format_text(L"%d-%02d-%02d %02d:%02d:%02d(%03d) ", st.wYear, st.wMonth, st.wDay,
                               st.wHour, st.wMinute, st.wSecond, st.wMilliseconds),
                   RGB(128, 128, 128), true);
        }
    }
    if (m_maxLength > 0 && length >= m_maxLength)
        ::SetWindowTextW(m_hWnd, L"");
    // The rich edit control ends its paragraphs with "\r".
    insert(replace_all(body, L"\n", L"\r"), colour, true);
    ::SendMessageW(m_hWnd, WM_VSCROLL, SB_BOTTOM, 0);
    return body;
}

std::wstring CRichEditCtrlEx::GetText() const {
    std::wstring text;
    if (!m_hWnd)
        return text;
    const int n = ::GetWindowTextLengthW(m_hWnd);
    text.assign(static_cast<size_t>(n) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(m_hWnd, &text[0], n + 1)));
    return text;
}

void CRichEditCtrlEx::SetFontSize(int points) {
    ui_invoke(m_hWnd, [&] {
        CHARFORMAT2W cf = {};
        cf.cbSize = sizeof(cf);
        cf.dwMask = CFM_SIZE;
        cf.yHeight = points * 20;
        ::SendMessageW(m_hWnd, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&cf));
    });
}

void CRichEditCtrlEx::SetLineSpacingAll(int rule) {
    ui_invoke(m_hWnd, [&] {
        ::SendMessageW(m_hWnd, EM_SETSEL, 0, -1);
        PARAFORMAT2 pf = {};
        pf.cbSize = sizeof(pf);
        pf.dwMask = PFM_LINESPACING;
        pf.bLineSpacingRule = static_cast<BYTE>(rule);
        ::SendMessageW(m_hWnd, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&pf));
        const LRESULT end = ::SendMessageW(m_hWnd, WM_GETTEXTLENGTH, 0, 0);
        ::SendMessageW(m_hWnd, EM_SETSEL, end, end);
    });
}

void CRichEditCtrlEx::SetBackColor(COLORREF colour) {
    ui_invoke(m_hWnd, [&] {
        m_backColor = colour;
        ::SendMessageW(m_hWnd, EM_SETBKGNDCOLOR, 0, colour);
    });
}
