#include "controls/sc_static.h"

#include <cstdarg>

#include "app/framework_win.h"
#include "util/win_util.h"

void CSCStatic::SubclassDlgItem(int id, HWND parent) {
    m_hWnd = ::GetDlgItem(parent, id);
}

void CSCStatic::SetText(const std::wstring& text, COLORREF colour) {
    ui_invoke(m_hWnd, [&] {
        if (colour != keep_colour)
            m_textColor = colour;
        ::SetWindowTextW(m_hWnd, text.c_str());
        ::InvalidateRect(m_hWnd, nullptr, TRUE);
    });
}

void CSCStatic::SetTextF(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const std::wstring text = format_text_v(format, args);
    va_end(args);
    SetText(text, keep_colour);
}

std::wstring CSCStatic::GetText() const {
    std::wstring text;
    ui_invoke(m_hWnd, [&] {
        const int n = ::GetWindowTextLengthW(m_hWnd);
        text.assign(static_cast<size_t>(n) + 1, L'\0');
        text.resize(static_cast<size_t>(::GetWindowTextW(m_hWnd, &text[0], n + 1)));
    });
    return text;
}

void CSCStatic::SetFontSize(int points) {
    m_font_size = points;
    recreate_font();
}

void CSCStatic::SetFontBold(bool bold) {
    m_bold = bold;
    recreate_font();
}

void CSCStatic::recreate_font() {
    ui_invoke(m_hWnd, [&] {
        HFONT current = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
        LOGFONTW lf = {};
        if (!current || !::GetObjectW(current, sizeof(lf), &lf))
            ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof(lf), &lf);
        HDC dc = ::GetDC(m_hWnd);
        lf.lfHeight = -::MulDiv(m_font_size, ::GetDeviceCaps(dc, LOGPIXELSY), 72);
        ::ReleaseDC(m_hWnd, dc);
        lf.lfWeight = m_bold ? FW_BOLD : FW_NORMAL;
        HFONT font = ::CreateFontIndirectW(&lf);
        ::SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        if (m_font)
            ::DeleteObject(m_font);
        m_font = font;
    });
}
