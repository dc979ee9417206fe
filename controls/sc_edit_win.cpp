#include "controls/sc_edit.h"

#include <commctrl.h>

#include <algorithm>

#include "controls/edit_layout.h"
#include "controls/gdiplus_win.h"
#include "util/dc_scope_win.h"

UINT sc_edit_message() {
    static const UINT id = ::RegisterWindowMessageW(L"MessageString_CSCEdit");
    return id;
}

CSCEdit::CSCEdit()
    : m_textColor(ToArgb(::GetSysColor(COLOR_WINDOWTEXT))),
      m_backColor(ToArgb(::GetSysColor(COLOR_WINDOW))),
      m_textColorDisabled(ToArgb(::GetSysColor(COLOR_GRAYTEXT))),
      m_backColorReadOnly(ToArgb(::GetSysColor(COLOR_BTNFACE))) {
    m_backBrush.reset(::CreateSolidBrush(ToRgb(m_backColor)));
    m_disabledBrush.reset(::CreateSolidBrush(ToRgb(m_backColorDisabled)));
}

CSCEdit::~CSCEdit() {
    if (m_subclassedParent && ::IsWindow(m_subclassedParent))
        ::RemoveWindowSubclass(m_subclassedParent, &CSCEdit::parent_proc,
                               reinterpret_cast<UINT_PTR>(this));
}

void CSCEdit::PreSubclassWindow() {
    // The platform asks the parent for the box's colours; the parent's procedure is extended
    // to answer for this box.
    m_subclassedParent = GetParent();
    if (m_subclassedParent)
        ::SetWindowSubclass(m_subclassedParent, &CSCEdit::parent_proc,
                            reinterpret_cast<UINT_PTR>(this), reinterpret_cast<DWORD_PTR>(this));

    HFONT font = m_subclassedParent
                     ? reinterpret_cast<HFONT>(::SendMessageW(m_subclassedParent, WM_GETFONT, 0, 0))
                     : nullptr;
    if (!font || !::GetObjectW(font, sizeof(m_logFont), &m_logFont))
        ::GetObjectW(::GetStockObject(SYSTEM_FONT), sizeof(m_logFont), &m_logFont);
    m_baseHeight = m_logFont.lfHeight;
    apply_font();

    const LONG style = ::GetWindowLongW(m_hWnd, GWL_STYLE);
    const LONG ex = ::GetWindowLongW(m_hWnd, GWL_EXSTYLE);
    if ((style & WS_BORDER) || (ex & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE))) {
        m_ownBorder = true;
        ::SetWindowLongW(m_hWnd, GWL_STYLE, style & ~WS_BORDER);
        ::SetWindowLongW(m_hWnd, GWL_EXSTYLE, ex & ~(WS_EX_CLIENTEDGE | WS_EX_STATICEDGE));
    }
    // One pixel wider and back, so that the frame is recalculated.
    RECT r;
    ::GetWindowRect(m_hWnd, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, w + 1, h, SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);
    apply_alignment();
}

void CSCEdit::redraw() {
    if (m_hWnd)
        ::RedrawWindow(m_hWnd, nullptr, nullptr,
                       RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_FRAME);
}

void CSCEdit::SetColors(argb_colour text, argb_colour back) {
    m_textColor = text;
    m_backColor = back;
    m_backBrush.reset(::CreateSolidBrush(ToRgb(back)));
    redraw();
}
void CSCEdit::SetTextColor(argb_colour colour) {
    m_textColor = colour;
    redraw();
}
void CSCEdit::SetBackColor(argb_colour colour) {
    m_backColor = colour;
    m_backBrush.reset(::CreateSolidBrush(ToRgb(colour)));
    redraw();
}
void CSCEdit::SetDisabledTextColor(argb_colour colour) {
    m_textColorDisabled = colour;
    redraw();
}
void CSCEdit::SetDisabledBackColor(argb_colour colour) {
    m_backColorDisabled = colour;
    m_disabledBrush.reset(::CreateSolidBrush(ToRgb(colour)));
    redraw();
}
void CSCEdit::SetReadOnlyBackColor(argb_colour colour) {
    m_backColorReadOnly = colour;
    redraw();
}

void CSCEdit::SetFontName(const std::wstring& face, BYTE charset) {
    lstrcpynW(m_logFont.lfFaceName, face.c_str(), LF_FACESIZE);
    m_logFont.lfCharSet = charset;
    apply_font();
    apply_alignment();
}

void CSCEdit::SetFontSize(int points) {
    m_fontPoints = points;
    m_logFont.lfHeight = font_height_for_points(window_dc(GetParent()).dc(), points);
    apply_font();
    apply_alignment();
}

void CSCEdit::SetFontWeight(int weight) {
    m_logFont.lfWeight = weight;
    apply_font();
    apply_alignment();
}

void CSCEdit::SetAutoFontSize(bool on, double ratio) {
    m_autoFontSize = on;
    m_fontRatio = ratio;
    const RECT client = client_rect();
    m_logFont.lfHeight =
        on ? -static_cast<LONG>((client.bottom - client.top) * ratio) : m_baseHeight;
    apply_font();
    apply_alignment();
}

void CSCEdit::SetTextAlign(int flags) {
    m_textAlign = flags;
    apply_alignment();
}

void CSCEdit::SetPlaceholder(const std::wstring& text, argb_colour colour) {
    m_placeholder = text;
    if (colour != k_keep_colour)
        m_placeholderColor = colour;
    redraw();
}

void CSCEdit::SetTransparent(bool on) {
    m_transparent = on;
    if (on)
        copy_parent_background();
    redraw();
}

void CSCEdit::SetActionArea(bool on, int width) {
    m_actionArea = on;
    m_actionWidth = on ? width : 0;
    redraw();
}

void CSCEdit::apply_font() {
    m_font.reset(::CreateFontIndirectW(&m_logFont));
    if (m_hWnd)
        ::SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), TRUE);
}

void CSCEdit::apply_alignment() {
    if (!m_hWnd)
        return;
    const RECT client = client_rect();
    int text_height = 0;
    {
        window_dc dc(m_hWnd);
        gdi_select_scope keep(dc, m_font.get());
        const int n = ::GetWindowTextLengthW(m_hWnd);
        std::wstring text(static_cast<size_t>(n) + 1, L'\0');
        text.resize(static_cast<size_t>(::GetWindowTextW(m_hWnd, &text[0], n + 1)));
        if (text.empty())
            text = L"Test text"; // the caret sits where text will show
        RECT measure = client;
        ::DrawTextW(dc.dc(), text.c_str(), -1, &measure, DT_CALCRECT | DT_SINGLELINE);
        text_height = measure.bottom - measure.top;
    }
    const DWORD margins = static_cast<DWORD>(::SendMessageW(m_hWnd, EM_GETMARGINS, 0, 0));
    const int_rect r = edit_text_rect(
        m_textAlign, {client.left, client.top, client.right, client.bottom}, text_height,
        m_borderWidth, LOWORD(margins), HIWORD(margins) + (m_actionArea ? m_actionWidth : 0));
    m_textRect = {r.left, r.top, r.right, r.bottom};
    ::SendMessageW(m_hWnd, EM_SETRECT, 0, reinterpret_cast<LPARAM>(&m_textRect));
}

void CSCEdit::notify(int code) {
    if (HWND parent = GetParent()) {
        sc_edit_notice note{this, code};
        ::SendMessageW(parent, sc_edit_message(), 0, reinterpret_cast<LPARAM>(&note));
    }
}

argb_colour CSCEdit::state_back() const {
    const LONG style = ::GetWindowLongW(m_hWnd, GWL_STYLE);
    if (m_actionPressed)
        return m_actionColors[2];
    if (!::IsWindowEnabled(m_hWnd))
        return m_backColorDisabled;
    if ((style & ES_READONLY) && m_useReadOnlyColor)
        return m_backColorReadOnly;
    return m_backColor;
}

HBRUSH CSCEdit::control_colour(HDC dc) {
    const RECT client = client_rect();
    if (m_ownBorder) {
        const int b = m_borderWidth;
        ::ExcludeClipRect(dc, client.left, client.top, client.right, client.top + b);
        ::ExcludeClipRect(dc, client.left, client.bottom - b, client.right, client.bottom);
        ::ExcludeClipRect(dc, client.left, client.top, client.left + b, client.bottom);
        ::ExcludeClipRect(dc, client.right - b, client.top, client.right, client.bottom);
    }
    if (m_actionArea && m_actionWidth > 0)
        ::ExcludeClipRect(dc, client.right - m_actionWidth, client.top, client.right,
                          client.bottom);
    if (m_transparent) {
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, ToRgb(m_textColor));
        return m_parentBrush ? static_cast<HBRUSH>(m_parentBrush.get())
                             : static_cast<HBRUSH>(::GetStockObject(HOLLOW_BRUSH));
    }
    const bool enabled = ::IsWindowEnabled(m_hWnd) != FALSE;
    const LONG style = ::GetWindowLongW(m_hWnd, GWL_STYLE);
    const argb_colour back = state_back();
    if (style & ES_READONLY)
        ::SetTextColor(dc, ToRgb(m_textColor));
    else
        ::SetTextColor(dc, ToRgb(enabled ? m_textColor : m_textColorDisabled));
    ::SetBkColor(dc, ToRgb(back));
    if (back == m_backColor)
        return static_cast<HBRUSH>(m_backBrush.get());
    if (back == m_backColorDisabled)
        return static_cast<HBRUSH>(m_disabledBrush.get());
    // Read-only and pressed colours are rare: a brush kept with the parent brush slot.
    m_parentBrush.reset(::CreateSolidBrush(ToRgb(back)));
    return static_cast<HBRUSH>(m_parentBrush.get());
}

void CSCEdit::paint_border(HDC dc) {
    // Filled as a ring rather than stroked: a one-pixel pen lands a pixel inside the box on
    // some renderers, while fills cover the same pixels everywhere.
    const RECT client = client_rect();
    const int width = std::max(m_borderWidth, 1);
    RECT inner = client;
    ::InflateRect(&inner, -width, -width);
    const auto as_rectf = [](const RECT& r) {
        return Gdiplus::RectF(static_cast<float>(r.left), static_cast<float>(r.top),
                              static_cast<float>(r.right - r.left),
                              static_cast<float>(r.bottom - r.top));
    };
    Gdiplus::GraphicsPath ring;
    round_rect_path(ring, as_rectf(client), static_cast<float>(m_borderWidth));
    if (inner.right > inner.left && inner.bottom > inner.top) {
        // Two figures under the alternate fill rule: the inner one is left out.
        Gdiplus::GraphicsPath hole;
        round_rect_path(hole, as_rectf(inner),
                        static_cast<float>(std::max(m_borderWidth - width, 0)));
        ring.AddPath(&hole, FALSE);
    }
    Gdiplus::Graphics g(dc);
    Gdiplus::SolidBrush brush(argb(m_borderColor));
    g.FillPath(&brush, &ring);
}

void CSCEdit::paint_background(HDC dc) {
    const RECT client = client_rect();
    {
        Gdiplus::Graphics g(dc);
        set_quality(g);
        fill_round_rect(g, client, state_back(), static_cast<float>(m_borderWidth), 0x00FFFFFF,
                        0.0f);
    }
    if (m_ownBorder)
        paint_border(dc);
    Gdiplus::Graphics g(dc);
    if (m_actionArea && m_actionWidth > 0 && !m_actionPressed) {
        Gdiplus::SolidBrush action(argb(m_actionColors[0]));
        g.FillRectangle(&action, client.right - m_actionWidth - m_borderWidth,
                        client.top + m_borderWidth, m_actionWidth,
                        client.bottom - 2 * m_borderWidth);
    }
}

void CSCEdit::paint_placeholder() {
    if (m_placeholder.empty() || ::GetFocus() == m_hWnd || !::IsWindowEnabled(m_hWnd) ||
        ::GetWindowTextLengthW(m_hWnd) > 0)
        return;
    window_dc dc(m_hWnd);
    RECT r = client_rect();
    if (m_ownBorder)
        ::InflateRect(&r, -m_borderWidth, -m_borderWidth);
    if (m_actionArea)
        r.right -= m_actionWidth;
    unique_hgdiobj brush(::CreateSolidBrush(ToRgb(m_backColor)));
    ::FillRect(dc.dc(), &r, static_cast<HBRUSH>(brush.get()));
    gdi_select_scope keep(dc, m_font.get());
    ::SetBkMode(dc.dc(), TRANSPARENT);
    ::SetTextColor(dc.dc(), ToRgb(m_placeholderColor));
    const LONG style = ::GetWindowLongW(m_hWnd, GWL_STYLE);
    UINT flags = DT_SINGLELINE | DT_NOPREFIX;
    if (style & ES_CENTER)
        flags |= DT_CENTER;
    else if (style & ES_RIGHT)
        flags |= DT_RIGHT;
    if (m_textAlign & 4)
        flags |= DT_VCENTER;
    else if (m_textAlign & 8)
        flags |= DT_BOTTOM;
    const std::wstring text = L" " + m_placeholder;
    ::DrawTextW(dc.dc(), text.c_str(), -1, &r, flags);
}

void CSCEdit::copy_parent_background() {
    HWND parent = GetParent();
    if (!parent || !m_hWnd)
        return;
    RECT r;
    ::GetWindowRect(m_hWnd, &r);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    {
        window_dc parent_dc(parent);
        unique_memory_dc mem(::CreateCompatibleDC(parent_dc.dc()));
        unique_hgdiobj bitmap(
            ::CreateCompatibleBitmap(parent_dc.dc(), r.right - r.left, r.bottom - r.top));
        {
            gdi_select_scope keep(mem, bitmap.get());
            ::BitBlt(mem.get(), 0, 0, r.right - r.left, r.bottom - r.top, parent_dc.dc(), r.left,
                     r.top, SRCCOPY);
        }
        m_parentBrush.reset(::CreatePatternBrush(static_cast<HBITMAP>(bitmap.get())));
    }
    ::InvalidateRect(parent, &r, FALSE);
}

LRESULT CSCEdit::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_ERASEBKGND:
        if (m_transparent)
            return 1;
        paint_background(reinterpret_cast<HDC>(wparam));
        return 1;
    case WM_PAINT: {
        const LRESULT r = Default(message, wparam, lparam);
        if (m_ownBorder) {
            window_dc dc(m_hWnd);
            paint_border(dc.dc());
        }
        paint_placeholder();
        return r;
    }
    case WM_KEYDOWN:
        if (wparam == VK_RETURN && ::IsWindowVisible(m_hWnd) &&
            !(::GetWindowLongW(m_hWnd, GWL_STYLE) & ES_WANTRETURN))
            notify(8);
        break;
    case WM_KILLFOCUS: {
        const LRESULT r = Default(message, wparam, lparam);
        redraw();
        notify(8);
        return r;
    }
    case WM_SETFOCUS: {
        const LRESULT r = Default(message, wparam, lparam);
        redraw();
        return r;
    }
    case WM_SIZE: {
        const LRESULT r = Default(message, wparam, lparam);
        if (m_autoFontSize) {
            m_logFont.lfHeight = -static_cast<LONG>(HIWORD(lparam) * m_fontRatio);
            apply_font();
        }
        apply_alignment();
        return r;
    }
    case WM_LBUTTONDOWN:
        if (m_actionArea &&
            static_cast<short>(LOWORD(lparam)) >= client_rect().right - m_actionWidth) {
            m_actionPressed = true;
            redraw();
            return 0;
        }
        break;
    case WM_LBUTTONUP:
        if (m_actionPressed) {
            m_actionPressed = false;
            redraw();
            return 0;
        }
        break;
    case WM_SETCURSOR:
        if (m_actionArea) {
            POINT pt;
            ::GetCursorPos(&pt);
            ::ScreenToClient(m_hWnd, &pt);
            if (pt.x >= client_rect().right - m_actionWidth) {
                ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
                return TRUE;
            }
        }
        break;
    case WM_ENABLE:
        redraw();
        break;
    case WM_MOVE:
        if (m_transparent)
            copy_parent_background();
        break;
    default:
        break;
    }
    if (m_transparent && (message == WM_CHAR || message == WM_SETTEXT)) {
        const LRESULT r = Default(message, wparam, lparam);
        copy_parent_background();
        return r;
    }
    return Default(message, wparam, lparam);
}

LRESULT CALLBACK CSCEdit::parent_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                      UINT_PTR id, DWORD_PTR data) {
    auto* self = reinterpret_cast<CSCEdit*>(data);
    if ((message == WM_CTLCOLOREDIT || message == WM_CTLCOLORSTATIC) && self->m_hWnd &&
        reinterpret_cast<HWND>(lparam) == self->m_hWnd)
        return reinterpret_cast<LRESULT>(self->control_colour(reinterpret_cast<HDC>(wparam)));
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(hwnd, &CSCEdit::parent_proc, id);
        self->m_subclassedParent = nullptr;
    }
    return ::DefSubclassProc(hwnd, message, wparam, lparam);
}
