#include "controls/sc_static.h"

#include <commdlg.h>
#include <shellapi.h>

#include <cstdarg>

#include "controls/label_layout.h"
#include "framework/framework_win.h"
#include "util/text_util_win.h"
#include "util/dc_scope_win.h"

namespace {
constexpr UINT_PTR k_blink_timer = 0;
constexpr UINT_PTR k_gradient_timer = 1;
} // namespace

UINT sc_static_message() {
    static const UINT id = ::RegisterWindowMessageW(L"MessageString_CSCStatic");
    return id;
}

CSCStatic::CSCStatic()
    : m_textColor(ToArgb(::GetSysColor(COLOR_BTNTEXT))),
      m_backColor(ToArgb(::GetSysColor(COLOR_BTNFACE))) {}

CSCStatic::~CSCStatic() = default;

void CSCStatic::PreSubclassWindow() {
    if (m_text.empty()) {
        const int n = ::GetWindowTextLengthW(m_hWnd);
        std::wstring text(static_cast<size_t>(n) + 1, L'\0');
        text.resize(static_cast<size_t>(::GetWindowTextW(m_hWnd, &text[0], n + 1)));
        m_text = text;
    }
    LONG style = ::GetWindowLongW(m_hWnd, GWL_STYLE);
    ::SetWindowLongW(m_hWnd, GWL_STYLE, style | SS_REALSIZECONTROL);
    const LONG type = style & SS_TYPEMASK;
    m_centre = type == SS_CENTER;
    m_right = type == SS_RIGHT;
    m_vcentre = (style & SS_CENTERIMAGE) != 0;

    HWND source = GetParent();
    HFONT font =
        source ? reinterpret_cast<HFONT>(::SendMessageW(source, WM_GETFONT, 0, 0)) : nullptr;
    if (!font) {
        CWinApp* app = CWinApp::current();
        if (app && app->m_hMainWnd)
            font = reinterpret_cast<HFONT>(::SendMessageW(app->m_hMainWnd, WM_GETFONT, 0, 0));
    }
    if (!font || !::GetObjectW(font, sizeof(m_logFont), &m_logFont)) {
        ::GetObjectW(::GetStockObject(SYSTEM_FONT), sizeof(m_logFont), &m_logFont);
        m_logFont.lfWidth = 0;
    }
    RecreateFont();
}

void CSCStatic::RecreateFont() {
    m_font.reset(::CreateFontIndirectW(&m_logFont));
    if (m_hWnd)
        ::SendMessageW(m_hWnd, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
    Invalidate();
}

void CSCStatic::SetText(const std::wstring& text, argb_colour colour) {
    const unsigned ticket = ++m_text_ticket;
    ui_post(m_root, [this, text, colour, ticket] {
        if (!m_hWnd)
            return;
        m_text = text;
        if (colour != keep_colour)
            m_textColor = colour;
        // A later text is already queued: this one would never be seen.
        if (ticket != m_text_ticket.load())
            return;
        // The window text follows, for anything that reads the control from outside.
        Default(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        refresh_text();
    });
}

void CSCStatic::refresh_text() {
    // A parent that clips its children never draws under the label, so only the label needs
    // painting, whenever the window system gets to it; any other parent is redrawn first.
    HWND parent = GetParent();
    if (!parent || !(::GetWindowLongW(parent, GWL_STYLE) & WS_CLIPCHILDREN))
        redraw_parent_area();
    Invalidate();
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
    ui_invoke(m_hWnd, [&] { text = m_text; });
    return text;
}

void CSCStatic::SetFontSize(int points) {
    m_logFont.lfHeight = font_height_for_points(window_dc(m_hWnd).dc(), points);
    RecreateFont();
    redraw_parent_area();
}

void CSCStatic::SetIcon(HICON icon) {
    m_icon = icon;
    m_iconWidth = m_iconHeight = 16;
    m_iconCentered = false;
    Invalidate();
}

void CSCStatic::UpdateSurface() {
    redraw_parent_area();
}

void CSCStatic::redraw_parent_area() {
    HWND parent = GetParent();
    if (!m_hWnd || !parent)
        return;
    RECT r;
    ::GetWindowRect(m_hWnd, &r);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    ::InvalidateRect(parent, &r, FALSE);
    ::UpdateWindow(parent);
}

LRESULT CSCStatic::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    LRESULT painted = 0;
    if (paint_message(message, wparam, painted))
        return painted;
    switch (message) {
    case WM_SETTEXT: {
        const LRESULT r = Default(message, wparam, lparam);
        m_text = lparam ? reinterpret_cast<const wchar_t*>(lparam) : L"";
        Invalidate();
        return r;
    }
    case WM_TIMER:
        if (wparam == k_blink_timer) {
            const bool enabled = ::IsWindowEnabled(m_hWnd) != FALSE;
            m_blinkHidden = enabled ? !m_blinkHidden : false;
            redraw_parent_area();
            Invalidate();
            if (enabled)
                ::SetTimer(m_hWnd, k_blink_timer, m_blinkHidden ? m_blinkHideMs : m_blinkShowMs,
                           nullptr);
            else
                ::KillTimer(m_hWnd, k_blink_timer);
            return 0;
        }
        if (wparam == k_gradient_timer) {
            if (!m_gradientColors.empty())
                m_gradientColors.pop_back();
            Invalidate();
            return 0;
        }
        break;
    case WM_SIZE:
        // Alignment and wrapping follow the size, so whatever the system kept of the old
        // picture (it copies a moved or grown window's bits) is stale.
        Invalidate();
        if (m_autoFitFont)
            fit_font();
        else if (m_image.valid() && m_image.m_frameCount < 2)
            m_image.Resize(LOWORD(lparam), HIWORD(lparam));
        break;
    case WM_NCHITTEST:
        // A link or an editable label takes the mouse; a plain one lets it through to the
        // window below (the title band is dragged through the caption label).
        if (!m_link.empty() || m_editable)
            return HTCLIENT;
        break;
    case WM_SETCURSOR:
        if (!m_link.empty()) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
        }
        break;
    case WM_LBUTTONUP:
        if (!m_link.empty()) {
            ::ShellExecuteW(nullptr, L"open", m_link.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
            return 0;
        }
        if (m_editable) {
            const int x = static_cast<short>(LOWORD(lparam));
            if (m_text == L"color picker" && x <= 20)
                pick_colour();
            else
                start_editing();
            return 0;
        }
        break;
    case WM_ENABLE:
        Invalidate();
        break;
    default:
        if (message == sc_edit_message() && m_editor.GetSafeHwnd() &&
            ::IsWindowVisible(m_editor.GetSafeHwnd())) {
            const auto* note = reinterpret_cast<const sc_edit_notice*>(lparam);
            if (note && note->code == 8)
                finish_editing();
            else
                Invalidate();
            return 0;
        }
        break;
    }
    return Default(message, wparam, lparam);
}

void CSCStatic::paint(HDC dc) {
    const RECT client = client_rect();
    const int cw = client.right - client.left;
    const int ch = client.bottom - client.top;
    Gdiplus::Graphics g(dc);
    set_quality(g);
    g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);

    const bool rounded = m_roundRadius >= 1;
    if (rounded || m_fillRoundBack) {
        Gdiplus::SolidBrush outer(argb(m_outerColor));
        g.FillRectangle(&outer, 0, 0, cw, ch);
    }
    if (m_image.valid() && m_image.m_frameCount < 2) {
        m_image.Draw(g, client, 2);
    } else {
        if (m_gradient)
            gradient_fill(dc, client, m_gradientColors, m_gradientVertical);
        else if (rounded || m_fillRoundBack)
            fill_round_rect(g, client, m_backColor, static_cast<float>(m_roundRadius));
        else {
            Gdiplus::SolidBrush back(argb(m_backColor));
            g.FillRectangle(&back, 0, 0, cw, ch);
        }
        if (m_sunken)
            draw_two_colour_frame(dc, client, RGB(128, 128, 128), RGB(192, 192, 192));
    }

    CSCGdiplusBitmap* picture = nullptr;
    if (!m_images.empty()) {
        const size_t index =
            static_cast<size_t>(std::clamp(m_imageIndex, 0, static_cast<int>(m_images.size()) - 1));
        picture = m_images[index].get();
    }
    const bool has_icon = m_icon != nullptr || (picture && picture->valid());
    if (!m_text.empty() || has_icon) {
        gdi_select_scope keep_font(dc, m_font.get());
        const LONG style = ::GetWindowLongW(m_hWnd, GWL_STYLE);
        UINT flags = DT_NOCLIP;
        if (!m_ignoreStyle) {
            flags |= DT_NOPREFIX;
            if (m_centre)
                flags |= DT_CENTER;
            else if (m_right)
                flags |= DT_RIGHT;
            const LONG ellipsis = style & SS_ELLIPSISMASK;
            if (ellipsis == SS_ENDELLIPSIS)
                flags |= DT_END_ELLIPSIS;
            else if (ellipsis == SS_PATHELLIPSIS)
                flags |= DT_PATH_ELLIPSIS;
            else if (ellipsis == SS_WORDELLIPSIS)
                flags |= DT_WORD_ELLIPSIS;
            if (ellipsis == 0 && (style & SS_TYPEMASK) != SS_LEFTNOWORDWRAP)
                flags |= DT_WORDBREAK;
            if (m_vcentre && !(flags & DT_WORDBREAK))
                flags |= DT_VCENTER | DT_SINGLELINE;
        }
        const std::wstring shown =
            std::wstring(static_cast<size_t>(std::max(m_prefixSpaces, 0)), L' ') + m_text;
        RECT measure = client;
        if (!shown.empty())
            ::DrawTextW(dc, shown.c_str(), -1, &measure, (flags & ~(DT_VCENTER)) | DT_CALCRECT);
        int w = shown.empty() ? 0 : measure.right - measure.left;
        const int h = shown.empty() ? 0 : measure.bottom - measure.top;

        RECT text_rect = client;
        if (has_icon) {
            label_layout_input in;
            in.align = m_centre  ? label_align::centre
                       : m_right ? label_align::right
                                 : label_align::left;
            in.centre_image = m_vcentre;
            in.icon_centered = m_iconCentered;
            in.client_width = cw;
            in.client_height = ch;
            in.icon_width = m_icon ? m_iconWidth : picture->m_width;
            in.icon_height = m_icon ? m_iconHeight : picture->m_height;
            in.text_width = std::min(w, cw);
            in.text_height = h;
            in.has_text = !m_text.empty();
            const label_layout_result place = place_label(in);
            if (!m_blinkHidden) {
                if (m_icon)
                    ::DrawIconEx(dc, place.icon_x, place.icon_y, m_icon, m_iconWidth, m_iconHeight,
                                 0, nullptr, DI_NORMAL);
                else
                    picture->DrawAt(g, place.icon_x, place.icon_y, in.icon_width, in.icon_height);
            }
            text_rect.left = place.text_left;
            text_rect.top = place.text_top;
            flags &= ~static_cast<UINT>(DT_CENTER | DT_RIGHT | DT_VCENTER);
            if (m_vcentre)
                flags |= DT_SINGLELINE;
        }

        COLORREF colour = ToRgb(m_textColor);
        if (!::IsWindowEnabled(m_hWnd))
            colour = ::GetSysColor(COLOR_GRAYTEXT);
        else if (!m_link.empty())
            colour = ToRgb(m_linkColor);
        ::SetBkMode(dc, TRANSPARENT);
        if (!m_blinkHidden) {
            if (m_text != L"color picker") {
                ::SetTextColor(dc, colour);
                ::DrawTextW(dc, shown.c_str(), -1, &text_rect, flags);
            } else {
                const RECT swatch = {4, (ch - 12) / 2, 16, (ch - 12) / 2 + 12};
                draw_rectangle(g, swatch, make_argb(255, 128, 128, 128), 1.0f, m_textColor);
                w = 16;
            }
            if (m_editable && !m_valueText.empty()) {
                RECT value = client;
                value.left = text_rect.left + w + 8;
                ::SetTextColor(dc, ToRgb(m_valueColor));
                ::DrawTextW(dc, m_valueText.c_str(), -1, &value,
                            DT_SINGLELINE | DT_VCENTER | DT_NOCLIP | DT_NOPREFIX);
            }
        }
    }

    if (m_border) {
        if (!rounded) {
            draw_rectangle(g, client, m_borderColor, 1.0f, 0x00FFFFFF);
        } else {
            draw_round_rect(g, client, m_borderColor, static_cast<float>(m_roundRadius),
                            static_cast<float>(m_borderWidth));
        }
    }
}

void CSCStatic::fit_font() {
    const RECT client = client_rect();
    window_dc dc(m_hWnd);
    for (int i = 0; i < 50; ++i) {
        SIZE size = {};
        {
            // Deselected before the font is replaced: a selected font is not deleted.
            gdi_select_scope keep(dc, m_font.get());
            ::GetTextExtentPoint32W(dc.dc(), m_text.c_str(), static_cast<int>(m_text.size()),
                                    &size);
        }
        const int magnitude = m_logFont.lfHeight < 0 ? -m_logFont.lfHeight : m_logFont.lfHeight;
        const int step = label_fit_step(size.cx, client.right, magnitude);
        if (step == 0)
            break;
        const int next = magnitude + step;
        m_logFont.lfHeight = m_logFont.lfHeight < 0 ? -next : next;
        m_font.reset(::CreateFontIndirectW(&m_logFont));
    }
    Invalidate();
}

void CSCStatic::notify_parent() {
    if (HWND parent = GetParent()) {
        sc_static_change change{this, m_valueText};
        ::SendMessageW(parent, sc_static_message(), 0, reinterpret_cast<LPARAM>(&change));
    }
}

void CSCStatic::pick_colour() {
    static COLORREF custom[16] = {};
    CHOOSECOLORW cc = {};
    cc.lStructSize = sizeof(cc);
    cc.hwndOwner = m_hWnd;
    cc.rgbResult = ToRgb(m_textColor);
    cc.lpCustColors = custom;
    cc.Flags = CC_RGBINIT | CC_FULLOPEN;
    if (!::ChooseColorW(&cc))
        return;
    m_textColor = ToArgb(cc.rgbResult);
    m_valueText = format_text(L"%d, %d, %d", GetRValue(cc.rgbResult), GetGValue(cc.rgbResult),
                              GetBValue(cc.rgbResult));
    Invalidate();
    notify_parent();
}

void CSCStatic::start_editing() {
    const RECT client = client_rect();
    if (!m_editor.GetSafeHwnd()) {
        HWND edit = ::CreateWindowExW(0, L"EDIT", L"", WS_CHILD | ES_AUTOHSCROLL, 0, 0, 0, 0,
                                      m_hWnd, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        if (!edit)
            return;
        ::SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
        m_editor.SubclassWindow(edit);
    }
    HWND edit = m_editor.GetSafeHwnd();
    const int left = (m_icon ? m_iconWidth : 0) + 4;
    ::MoveWindow(edit, left, 3, client.right - 6 - left, client.bottom - 5 - 3, TRUE);
    m_editor.SetColors(m_valueColor, m_backColor);
    ::SetWindowTextW(edit, m_valueText.c_str());
    ::ShowWindow(edit, SW_SHOW);
    ::SendMessageW(edit, EM_SETSEL, 0, -1);
    ::SendMessageW(edit, EM_SCROLLCARET, 0, 0);
    ::SetFocus(edit);
}

void CSCStatic::finish_editing() {
    HWND edit = m_editor.GetSafeHwnd();
    ::ShowWindow(edit, SW_HIDE);
    const int n = ::GetWindowTextLengthW(edit);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(edit, &text[0], n + 1)));
    m_valueText = text;
    Invalidate();
    notify_parent();
}
