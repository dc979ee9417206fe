#include "controls/rich_edit_ctrl_ex.h"

#include <richedit.h>

#include <cstdarg>
#include <cwctype>
#include <new>

#include "framework/framework_win.h"
#include "util/text_util.h"
#include "util/text_util_win.h"
#include "util/dc_scope_win.h"

CRichEditCtrlEx::CRichEditCtrlEx() : m_textColor(::GetSysColor(COLOR_GRAYTEXT)) {
    if (CWinApp* app = CWinApp::current())
        m_showTime = app->GetProfileInt(L"setting\\rich_edit", L"show time", 1) != 0;
}

CRichEditCtrlEx::~CRichEditCtrlEx() {
    // A window that outlives us gets its own font back before ours is deleted.
    if (m_font && m_hWnd && ::IsWindow(m_hWnd))
        ::SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_attach_font), FALSE);
    m_font.reset();
}

void CRichEditCtrlEx::PreSubclassWindow() {
    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    m_attach_font = font;
    if (!font) {
        if (HWND parent = GetParent())
            font = reinterpret_cast<HFONT>(::SendMessageW(parent, WM_GETFONT, 0, 0));
    }
    if (!font || !::GetObjectW(font, sizeof(m_logFont), &m_logFont)) {
        ::GetObjectW(::GetStockObject(SYSTEM_FONT), sizeof(m_logFont), &m_logFont);
        // The bitmap font's width would keep a resized font at its old width.
        m_logFont.lfWidth = 0;
    }
}

void CRichEditCtrlEx::recreate_font() {
    unique_hgdiobj font(::CreateFontIndirectW(&m_logFont));
    if (!font)
        return;
    // The rich edit turns the font into its default character format and its text's.
    ::SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    m_font = std::move(font);
}

namespace {
constexpr UINT k_clear = 9901, k_show = 9900, k_time = 9905, k_single = 9902, k_one_half = 9903,
               k_double = 9904;
} // namespace

void CRichEditCtrlEx::AddLine(COLORREF colour, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    try {
        std::wstring text = format_text_v(format, args);
        text += L"\n";
        AppendText(colour, text);
    } catch (const std::bad_alloc&) {
    }
    va_end(args);
}

void CRichEditCtrlEx::AppendText(COLORREF colour, const std::wstring& text) {
    try {
        const unsigned ticket = ++m_append_ticket;
        ui_post(m_root, [this, colour, text, ticket] {
            try {
                append_on_ui(colour, text, ticket == m_append_ticket.load());
            } catch (const std::bad_alloc&) {
            }
        });
    } catch (const std::bad_alloc&) {
    }
}

int CRichEditCtrlEx::caret_x() const {
    // The platform's caret lives only while the control has focus, but a caret the user
    // placed and then clicked away from still counts: off focus the selection is the caret.
    // Appends leave it at the very end, no sign of the user's hand, so that is the left edge.
    CHARRANGE selection = {};
    ::SendMessageW(m_hWnd, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    GETTEXTLENGTHEX how = {GTL_NUMCHARS | GTL_PRECISE, 1200};
    const LONG end = static_cast<LONG>(
        ::SendMessageW(m_hWnd, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&how), 0));
    if (selection.cpMin == selection.cpMax && selection.cpMax >= end)
        return 0;
    POINT caret = {};
    if (::GetFocus() == m_hWnd && ::GetCaretPos(&caret))
        return caret.x;
    POINTL at = {};
    ::SendMessageW(m_hWnd, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), selection.cpMin);
    return at.x;
}

void CRichEditCtrlEx::note_user_position() {
    if (caret_x() >= 2)
        m_autoScroll = false;
    SCROLLINFO si = {};
    si.cbSize = sizeof(si);
    si.fMask = SIF_ALL;
    if (::GetScrollInfo(m_hWnd, SB_VERT, &si) && si.nPos != si.nTrackPos)
        m_autoScroll = false; // the user is dragging the thumb
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

void CRichEditCtrlEx::append_on_ui(COLORREF colour, const std::wstring& text, bool scroll) {
    if (!m_hWnd || !m_showLog)
        return;
    if (colour == static_cast<COLORREF>(-1))
        colour = m_textColor;

    // Every append looks, even one that leaves the scrolling to a later one: the leading
    // breaks below and step to the end move the selection, and with it what the user did.
    note_user_position();

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
    // Only a fresh line gets a timestamp.
    const bool stamp = m_showTime && at_fresh_line();
    to_end_paragraph();
    if (stamp)
        timestamp();
    if (m_maxLength > 0 && length >= m_maxLength)
        clear_text();
    // The rich edit control ends its paragraphs with "\r".
    insert(replace_all(body, L"\n", L"\r"), colour, true);
    if (scroll && m_autoScroll && ::GetFocus() != m_hWnd)
        ::SendMessageW(m_hWnd, WM_VSCROLL, SB_BOTTOM, 0);
}

void CRichEditCtrlEx::to_end_paragraph() {
    const LRESULT end = ::SendMessageW(m_hWnd, WM_GETTEXTLENGTH, 0, 0);
    ::SendMessageW(m_hWnd, EM_SETSEL, end, end);
    PARAFORMAT2 pf = {};
    pf.cbSize = sizeof(pf);
    pf.dwMask = PFM_ALIGNMENT;
    pf.wAlignment = m_alignment;
    ::SendMessageW(m_hWnd, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&pf));
    ::SendMessageW(m_hWnd, EM_SETMODIFY, TRUE, 0);
}

void CRichEditCtrlEx::clear_text() {
    ::SendMessageW(m_hWnd, EM_SETSEL, 0, -1);
    ::SendMessageW(m_hWnd, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
}

bool CRichEditCtrlEx::at_fresh_line() const {
    // Reads backwards from the end, a window at a time, until a break or a character other
    // than a blank shows up: the cost follows the last line, not the whole text.
    GETTEXTLENGTHEX how = {GTL_NUMCHARS | GTL_PRECISE, 1200};
    LONG end = static_cast<LONG>(
        ::SendMessageW(m_hWnd, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&how), 0));
    LONG window = 256;
    while (end > 0) {
        const LONG start = end > window ? end - window : 0;
        std::wstring part(static_cast<size_t>(end - start) + 1, L'\0');
        TEXTRANGEW range = {{start, end}, &part[0]};
        const LRESULT got =
            ::SendMessageW(m_hWnd, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
        if (got != end - start) {
            // Not what the control promised: look at the whole text instead.
            const std::wstring all = GetText();
            const size_t last_break = all.find_last_of(L"\r\n");
            return trim(last_break == std::wstring::npos ? all : all.substr(last_break + 1))
                .empty();
        }
        for (LONG i = got; i-- > 0;) {
            const wchar_t c = part[static_cast<size_t>(i)];
            if (c == L'\r' || c == L'\n')
                return true;
            if (!std::iswspace(static_cast<wint_t>(c)))
                return false;
        }
        end = start;
        window *= 2;
    }
    return true;
}

void CRichEditCtrlEx::timestamp() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    insert(format_text(L"%d-%02d-%02d %02d:%02d:%02d(%03d) ", st.wYear, st.wMonth, st.wDay,
                       st.wHour, st.wMinute, st.wSecond, st.wMilliseconds),
           RGB(128, 128, 128), true);
}

std::wstring CRichEditCtrlEx::AddNotice(const std::wstring& text, COLORREF colour,
                                        bool line_break) {
    try {
        std::wstring result = text;
        ui_invoke(m_hWnd, [&] {
            if (!m_hWnd || !m_showLog)
                return;
            if (colour == static_cast<COLORREF>(-1))
                colour = m_textColor;
            std::wstring body = line_break ? text + L"\n" : text;
            size_t leading = 0;
            while (leading < body.size() && body[leading] == L'\n')
                ++leading;
            body.erase(0, leading);

            const LRESULT first_line = ::SendMessageW(m_hWnd, EM_GETFIRSTVISIBLELINE, 0, 0);
            CHARRANGE selection = {};
            ::SendMessageW(m_hWnd, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
            if (caret_x() > 1)
                m_autoScroll = false;
            SCROLLINFO si = {};
            si.cbSize = sizeof(si);
            si.fMask = SIF_ALL;
            ::GetScrollInfo(m_hWnd, SB_VERT, &si);
            const LRESULT lines_before = ::SendMessageW(m_hWnd, EM_GETLINECOUNT, 0, 0);

            if (m_showTime)
                timestamp();
            if (leading > 0)
                insert(std::wstring(leading, L'\r'), 0, false);
            const LRESULT length = ::SendMessageW(m_hWnd, WM_GETTEXTLENGTH, 0, 0);
            if (m_maxLength > 0 && length >= m_maxLength)
                clear_text();
            insert(replace_all(body, L"\n", L"\r"), colour, true);

            if (si.nMax - si.nTrackPos < client_rect().bottom) {
                // The view was at the bottom: it stays there.
                ::SendMessageW(m_hWnd, EM_LINESCROLL, 0,
                               ::SendMessageW(m_hWnd, EM_GETLINECOUNT, 0, 0) - lines_before);
            } else {
                // Scrolled up: the user's selection and view come back as they were.
                ::SendMessageW(m_hWnd, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));
                const LRESULT now = ::SendMessageW(m_hWnd, EM_GETFIRSTVISIBLELINE, 0, 0);
                if (now != first_line)
                    ::SendMessageW(m_hWnd, EM_LINESCROLL, 0, first_line - now);
            }
            result = body;
        });
        return result;
    } catch (const std::bad_alloc&) {
        return std::wstring();
    }
}

void CRichEditCtrlEx::ClearAll() {
    ui_invoke(m_hWnd, [&] { ::SetWindowTextW(m_hWnd, L""); });
}

void CRichEditCtrlEx::SetFontName(const std::wstring& face) {
    ui_invoke(m_hWnd, [&] {
        lstrcpynW(m_logFont.lfFaceName, face.c_str(), LF_FACESIZE);
        recreate_font();
    });
}

void CRichEditCtrlEx::SetFontSize(int points) {
    ui_invoke(m_hWnd, [&] {
        m_logFont.lfHeight = font_height_for_points(window_dc(nullptr).dc(), points);
        recreate_font();
    });
}

void CRichEditCtrlEx::SetFontBold(bool bold) {
    ui_invoke(m_hWnd, [&] {
        m_logFont.lfWeight = bold ? FW_BOLD : FW_NORMAL;
        recreate_font();
    });
}

int CRichEditCtrlEx::line_spacing_rule() const {
    PARAFORMAT2 pf = {};
    pf.cbSize = sizeof(pf);
    ::SendMessageW(m_hWnd, EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&pf));
    return pf.bLineSpacingRule;
}

void CRichEditCtrlEx::context_menu() {
    HMENU menu = ::CreatePopupMenu();
    if (!menu)
        return;
    const UINT on_log = m_showLog ? MF_ENABLED : MF_GRAYED;
    const int rule = line_spacing_rule();
    ::AppendMenuW(menu, MF_STRING, k_clear, L"Clear all logs(&C)");
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING | (m_showLog ? MF_CHECKED : 0), k_show, L"Display logs(&S)");
    ::AppendMenuW(menu, MF_STRING | on_log | (m_showTime ? MF_CHECKED : 0), k_time,
                  L"Display time info(&D)");
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING | on_log | (rule == 0 ? MF_CHECKED : 0), k_single,
                  L"1.0 line space(&1)");
    ::AppendMenuW(menu, MF_STRING | on_log | (rule == 1 ? MF_CHECKED : 0), k_one_half,
                  L"1.5 line space(&2)");
    ::AppendMenuW(menu, MF_STRING | on_log | (rule == 2 ? MF_CHECKED : 0), k_double,
                  L"2.0 line space(&3)");
    POINT pt;
    ::GetCursorPos(&pt);
    const UINT command = static_cast<UINT>(::TrackPopupMenu(
        menu, TPM_LEFTALIGN | TPM_RETURNCMD | TPM_NONOTIFY, pt.x, pt.y, 0, m_hWnd, nullptr));
    ::DestroyMenu(menu);
    switch (command) {
    case k_clear:
        ClearAll();
        break;
    case k_show:
        if (m_showLog) {
            AddNotice(L"", -1, true);
            AddNotice(L"로그 디스플레이 옵션을 해제하였습니다.", -1, true);
            AddNotice(L"로그를 디스플레이 하려면 오른쪽 버튼을 누른 후 \"Display logs\" 옵션을 "
                      L"선택하세요.",
                      -1, true);
            m_showLog = false;
        } else {
            m_showLog = true;
            AddNotice(L"", -1, true);
            AddNotice(L"로그를 디스플레이합니다.", -1, true);
        }
        break;
    case k_time:
        m_showTime = !m_showTime;
        if (CWinApp* app = CWinApp::current())
            app->WriteProfileInt(L"setting\\rich_edit", L"show time", m_showTime ? 1 : 0);
        break;
    case k_single:
    case k_one_half:
    case k_double:
        set_line_spacing(static_cast<int>(command - k_single));
        break;
    default:
        break;
    }
}

LRESULT CRichEditCtrlEx::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_GETFONT:
        // Wine's rich edit answers no font at all; the one it draws with is ours.
        if (m_font)
            return reinterpret_cast<LRESULT>(m_font.get());
        break;
    case WM_RBUTTONUP:
        if (m_useContextMenu) {
            context_menu();
            return 0;
        }
        break;
    case WM_MOUSEWHEEL: {
        const short delta = static_cast<short>(HIWORD(wparam));
        ::SendMessageW(m_hWnd, EM_LINESCROLL, 0, delta <= 0 ? m_wheelLines : -m_wheelLines);
        return 0;
    }
    case WM_TIMER:
        if (wparam == 0) {
            ::SetWindowTextW(m_hWnd, L"");
            AddNotice(L"로그를 주기적으로 Clear 합니다.",
                      RGB(255 - GetRValue(m_backColor), 255 - GetGValue(m_backColor),
                          255 - GetBValue(m_backColor)),
                      true);
        }
        return 0;
    default:
        break;
    }
    return Default(message, wparam, lparam);
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

void CRichEditCtrlEx::SetLineSpacingAll(int rule) {
    ui_invoke(m_hWnd, [&] { set_line_spacing(rule); });
}

void CRichEditCtrlEx::set_line_spacing(int rule) {
    {
        ::SendMessageW(m_hWnd, EM_SETSEL, 0, -1);
        PARAFORMAT2 pf = {};
        pf.cbSize = sizeof(pf);
        pf.dwMask = PFM_LINESPACING;
        pf.bLineSpacingRule = static_cast<BYTE>(rule);
        ::SendMessageW(m_hWnd, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&pf));
        const LRESULT end = ::SendMessageW(m_hWnd, WM_GETTEXTLENGTH, 0, 0);
        ::SendMessageW(m_hWnd, EM_SETSEL, end, end);
    }
}

void CRichEditCtrlEx::SetBackColor(COLORREF colour) {
    ui_invoke(m_hWnd, [&] {
        m_backColor = colour;
        ::SendMessageW(m_hWnd, EM_SETBKGNDCOLOR, 0, colour);
    });
}
