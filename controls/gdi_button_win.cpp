#include "controls/gdi_button.h"

#include <commctrl.h>

#include <algorithm>

#include "controls/memory_dc_win.h"
#include "util/dc_scope_win.h"

namespace {
constexpr UINT_PTR k_blink_timer = 0;
// Marks the windows that this class draws, so that a radio button finds its group.
const wchar_t* const k_prop = L"CGdiButton";
} // namespace

UINT gdi_button_message() {
    static const UINT id = ::RegisterWindowMessageW(L"MessageString_CGdiButton");
    return id;
}

CGdiButton::CGdiButton() {
    const argb_colour face = ToArgb(::GetSysColor(COLOR_BTNFACE));
    const argb_colour highlight = ToArgb(::GetSysColor(COLOR_HIGHLIGHT));
    m_textColors = {ToArgb(::GetSysColor(COLOR_BTNTEXT)), highlight, highlight,
                    make_argb(255, 192, 192, 192)};
    m_backColors = {face, AdjustColor(face, 16), AdjustColor(face, -16), face};
    m_borderColors = m_backColors;
}

CGdiButton::~CGdiButton() {
    if (m_subclassedParent && ::IsWindow(m_subclassedParent))
        ::RemoveWindowSubclass(m_subclassedParent, &CGdiButton::parent_proc,
                               reinterpret_cast<UINT_PTR>(this));
}

void CGdiButton::PreSubclassWindow() {
    const LONG style = ::GetWindowLongW(m_hWnd, GWL_STYLE);
    const LONG type = style & BS_TYPEMASK;
    if (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON)
        m_kind = radio;
    else if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE ||
             type == BS_AUTO3STATE)
        m_kind = check;
    m_threeState = type == BS_3STATE || type == BS_AUTO3STATE;
    m_pushLike = (style & BS_PUSHLIKE) != 0;
    ::SetWindowLongW(m_hWnd, GWL_STYLE, (style & ~BS_TYPEMASK) | BS_OWNERDRAW);

    HFONT font = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    if (!font || !::GetObjectW(font, sizeof(m_logFont), &m_logFont))
        ::GetObjectW(::GetStockObject(SYSTEM_FONT), sizeof(m_logFont), &m_logFont);
    m_font.reset(::CreateFontIndirectW(&m_logFont));

    // The platform asks the parent to draw an owner-drawn button.
    ::SetPropW(m_hWnd, k_prop, this);
    m_subclassedParent = GetParent();
    if (m_subclassedParent)
        ::SetWindowSubclass(m_subclassedParent, &CGdiButton::parent_proc,
                            reinterpret_cast<UINT_PTR>(this), reinterpret_cast<DWORD_PTR>(this));
    Invalidate();
}

bool CGdiButton::AddImage(const std::wstring& type, UINT normal, UINT hover, UINT pressed,
                          UINT disabled) {
    auto set = std::make_unique<image_set>();
    if (!set->picture[0].LoadFromResource(type, normal))
        return false;
    const UINT ids[4] = {normal, hover, pressed, disabled};
    const colour_matrix matrices[4] = {{}, hover_matrix(), pressed_matrix(), disabled_matrix()};
    for (int i = 1; i < 4; ++i) {
        if (ids[i] && set->picture[i].LoadFromResource(type, ids[i]))
            continue;
        set->picture[0].CopyTo(set->picture[i]);
        if (i != 3 || !m_keepDisabledPicture)
            set->picture[i].ApplyMatrix(matrices[i]);
    }
    const int w = set->picture[0].m_width;
    const int h = set->picture[0].m_height;
    m_images.push_back(std::move(set));
    if (m_hWnd)
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    m_backColorsSet = false;
    m_imageMode = true;
    Invalidate();
    return true;
}

SIZE CGdiButton::GetImageSize() const {
    if (m_images.empty())
        return {0, 0};
    return {m_images[0]->picture[0].m_width, m_images[0]->picture[0].m_height};
}

void CGdiButton::SetTextColor(argb_colour colour) {
    m_textColors = derived_colours(colour);
    Invalidate();
}

void CGdiButton::SetTextColors(argb_colour normal, argb_colour hover, argb_colour pressed,
                               argb_colour disabled) {
    m_textColors = explicit_colours(normal, hover, pressed, disabled);
    Invalidate();
}

void CGdiButton::SetBackColors(argb_colour normal, argb_colour hover, argb_colour pressed,
                               argb_colour disabled) {
    m_backColors = explicit_colours(normal, hover, pressed, disabled);
    m_backColorsSet = true;
    if (m_roundRadius <= 0)
        m_imageMode = false;
    m_borderColors = m_backColors;
    Invalidate();
}

void CGdiButton::SetRound(argb_colour border, argb_colour outer) {
    m_roundRadius = 8;
    if (border != k_keep_colour) {
        m_drawBorder = true;
        m_borderColors = m_backColors;
    }
    m_imageMode = true;
    if (outer != k_keep_colour)
        m_outerColor = outer;
    Invalidate();
}

void CGdiButton::SetFont11pt() {
    m_logFont.lfHeight = font_height_for_points(window_dc(GetParent()).dc(), 11);
    m_font.reset(::CreateFontIndirectW(&m_logFont));
    Invalidate();
}

void CGdiButton::SetCheck(int state) {
    m_checked = state;
    Invalidate();
}

std::wstring CGdiButton::text() const {
    const int n = ::GetWindowTextLengthW(m_hWnd);
    std::wstring t(static_cast<size_t>(n) + 1, L'\0');
    t.resize(static_cast<size_t>(::GetWindowTextW(m_hWnd, &t[0], n + 1)));
    return t;
}

void CGdiButton::notify(UINT event) {
    if (HWND parent = GetParent()) {
        gdi_button_event e{this, ::GetDlgCtrlID(m_hWnd), event};
        ::SendMessageW(parent, gdi_button_message(), reinterpret_cast<WPARAM>(&e), 0);
    }
}

LRESULT CGdiButton::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_ERASEBKGND:
        return 1;
    case WM_MOUSEMOVE:
        if (m_hoverTracking && !m_tracking) {
            TRACKMOUSEEVENT tme = {sizeof(tme), TME_HOVER | TME_LEAVE, m_hWnd, 1};
            m_tracking = ::TrackMouseEvent(&tme) != FALSE;
            RedrawNow();
        }
        break;
    case WM_MOUSEHOVER:
        m_hover = true;
        Invalidate();
        notify(WM_MOUSEHOVER);
        return 0;
    case WM_MOUSELEAVE:
        m_hover = false;
        m_tracking = false;
        Invalidate();
        notify(WM_MOUSELEAVE);
        return 0;
    case WM_LBUTTONDOWN:
        notify(WM_LBUTTONDOWN);
        break;
    case WM_LBUTTONUP: {
        POINT pt = {static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
        const RECT client = client_rect();
        const bool inside = ::PtInRect(&client, pt) != FALSE;
        if (inside && m_kind == check) {
            m_checked = next_check_state(m_checked, m_threeState);
        } else if (inside && m_kind == radio) {
            m_checked = 1;
            // Unchecks the other buttons of this class in the group.
            HWND parent = GetParent();
            for (HWND other = ::GetNextDlgGroupItem(parent, m_hWnd, FALSE);
                 other && other != m_hWnd; other = ::GetNextDlgGroupItem(parent, other, FALSE)) {
                auto* button = static_cast<CGdiButton*>(::GetPropW(other, k_prop));
                if (button && button->m_kind == radio)
                    button->SetCheck(0);
            }
        }
        const LRESULT r = Default(message, wparam, lparam);
        if (inside)
            notify(WM_LBUTTONUP);
        Invalidate();
        return r;
    }
    case WM_SETFOCUS:
        m_hasFocus = true;
        Invalidate();
        break;
    case WM_KILLFOCUS:
        m_hasFocus = false;
        Invalidate();
        break;
    case WM_WINDOWPOSCHANGED:
        Invalidate();
        break;
    case WM_NCDESTROY:
        ::RemovePropW(m_hWnd, k_prop);
        break;
    case WM_TIMER:
        if (wparam == k_blink_timer) {
            m_blinkVisible = !m_blinkVisible;
            ::ShowWindow(m_hWnd, m_blinkVisible ? SW_SHOW : SW_HIDE);
            ::SetTimer(m_hWnd, k_blink_timer, m_blinkVisible ? 1200 : 400, nullptr);
            return 0;
        }
        break;
    default:
        break;
    }
    return Default(message, wparam, lparam);
}

LRESULT CALLBACK CGdiButton::parent_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam,
                                         UINT_PTR id, DWORD_PTR data) {
    auto* self = reinterpret_cast<CGdiButton*>(data);
    if (message == WM_DRAWITEM && self->m_hWnd) {
        const auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
        if (dis && dis->hwndItem == self->m_hWnd) {
            {
                CMemoryDC mem(dis->hDC, &dis->rcItem);
                self->draw(mem, dis->rcItem, (dis->itemState & ODS_SELECTED) != 0);
            }
            return TRUE;
        }
    }
    if (message == WM_NCDESTROY) {
        ::RemoveWindowSubclass(hwnd, &CGdiButton::parent_proc, id);
        self->m_subclassedParent = nullptr;
    }
    return ::DefSubclassProc(hwnd, message, wparam, lparam);
}

void CGdiButton::draw(HDC dc, const RECT& r, bool selected) {
    Gdiplus::Graphics g(dc);
    set_quality(g);
    g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    const bool enabled = ::IsWindowEnabled(m_hWnd) != FALSE;
    const bool pressed = selected || ((m_kind == check || m_kind == radio) && m_checked == 1);
    const button_state state = button_state_of(!enabled, pressed, m_hover);

    if (m_imageMode) {
        Gdiplus::SolidBrush outer(argb(m_outerColor));
        g.FillRectangle(&outer, r.left, r.top, w, h);
    }
    const argb_colour text_colour = m_textColors[state];
    const argb_colour border_colour = m_borderColors[state];
    auto fill_back = [&] {
        if (m_roundRadius > 0)
            fill_round_rect(g, r, m_backColors[state], static_cast<float>(m_roundRadius));
        else {
            Gdiplus::SolidBrush back(argb(m_backColors[state]));
            g.FillRectangle(&back, r.left, r.top, w, h);
        }
    };
    if (m_backColorsSet)
        fill_back();

    bool draw_text = true;
    if (!m_images.empty()) {
        const size_t index =
            static_cast<size_t>(std::clamp(m_imageIndex, 0, static_cast<int>(m_images.size()) - 1));
        image_set& set = *m_images[index];
        g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBilinear);
        if (m_imageShadow) {
            CSCGdiplusBitmap shadow;
            if (shadow.MakeShadowImage(set.picture[0], m_shadowBlur))
                shadow.DrawAt(g, r.left + 2, r.top + 2, shadow.m_width, shadow.m_height);
        }
        int which = state;
        if ((m_kind == check || m_kind == radio) && m_images.size() == 1)
            which = m_checked == 1 ? state_pressed : state_disabled;
        CSCGdiplusBitmap& picture = set.picture[which];
        if (state == state_pressed && (m_pressedOffset.x || m_pressedOffset.y))
            picture.DrawAt(g, r.left + m_pressedOffset.x, r.top + m_pressedOffset.y, w, h);
        else
            picture.Draw(g, r, 2);
        draw_text = m_showTextOverImage;
    } else {
        const float cx = (r.left + r.right) / 2.0f;
        const float cy = (r.top + r.bottom) / 2.0f;
        Gdiplus::Pen pen(argb(text_colour), 1.5f);
        if (m_kind == push || m_pushLike) {
            if (m_roundRadius <= 0 && m_flat3d &&
                !(::GetWindowLongW(m_hWnd, GWL_STYLE) & BS_FLAT)) {
                if (pressed)
                    draw_two_colour_frame(dc, r, RGB(160, 160, 160), RGB(255, 255, 255));
                else
                    draw_two_colour_frame(dc, r, RGB(255, 255, 255), RGB(128, 128, 128));
            } else if (m_sysCommand == SC_MINIMIZE) {
                g.DrawLine(&pen, cx - 5, cy + 3, cx + 5, cy + 3);
            } else if (m_sysCommand == SC_MAXIMIZE) {
                if (::IsZoomed(::GetAncestor(m_hWnd, GA_ROOT))) {
                    g.DrawRectangle(&pen, cx - 3, cy - 5, 8.0f, 8.0f);
                    Gdiplus::SolidBrush white(Gdiplus::Color(255, 255, 255, 255));
                    g.FillRectangle(&white, cx - 6, cy - 2, 8.0f, 8.0f);
                    g.DrawRectangle(&pen, cx - 6, cy - 2, 8.0f, 8.0f);
                } else {
                    g.DrawRectangle(&pen, cx - 5, cy - 6, 10.0f, 10.0f);
                }
            } else if (m_sysCommand == SC_CLOSE) {
                g.DrawLine(&pen, cx - 5, cy - 6, cx + 5, cy + 4);
                g.DrawLine(&pen, cx - 5, cy + 4, cx + 5, cy - 6);
            }
        } else if (m_kind == radio) {
            Gdiplus::Pen thin(argb(text_colour), 1.0f);
            g.DrawEllipse(&thin, r.left + 2.0f, cy - 6, 12.0f, 12.0f);
            if (m_checked) {
                Gdiplus::SolidBrush dot(argb(text_colour));
                g.FillEllipse(&dot, r.left + 4.0f, cy - 4, 8.0f, 8.0f);
            }
        } else {
            const RECT box = {r.left + 2, static_cast<LONG>(cy) - 7, r.left + 15,
                              static_cast<LONG>(cy) + 6};
            draw_rectangle(g, box, text_colour, 1.0f, 0xFFFFFFFF);
            if (m_checked == 1) {
                Gdiplus::Pen mark(Gdiplus::Color(255, 32, 32, 32), 1.51f);
                const float mid = (box.top + box.bottom) / 2.0f;
                Gdiplus::PointF points[3] = {{box.left + 1.0f, mid - 1},
                                             {box.left + 4.0f, mid + 3},
                                             {box.right - 3.0f, box.top + 3.0f}};
                g.DrawLines(&mark, points, 3);
            } else if (m_checked == 2) {
                Gdiplus::SolidBrush inner(argb(text_colour));
                g.FillRectangle(&inner, static_cast<INT>(box.left + 3),
                                static_cast<INT>(box.top + 3),
                                static_cast<INT>(box.right - box.left - 6),
                                static_cast<INT>(box.bottom - box.top - 6));
            }
        }
    }

    if (m_hasFocus && m_focusRect) {
        Gdiplus::Pen dash(argb(m_focusColor), static_cast<float>(m_focusWidth));
        dash.SetDashStyle(Gdiplus::DashStyleDash);
        RECT in = r;
        ::InflateRect(&in, -1, -1);
        Gdiplus::GraphicsPath path;
        round_rect_path(path,
                        Gdiplus::RectF(static_cast<float>(in.left), static_cast<float>(in.top),
                                       static_cast<float>(in.right - in.left - 1),
                                       static_cast<float>(in.bottom - in.top - 1)),
                        static_cast<float>(m_roundRadius));
        g.DrawPath(&dash, &path);
    } else if (m_hover && m_hoverBorder) {
        draw_round_rect(g, r, m_hoverBorderColor, static_cast<float>(m_roundRadius),
                        static_cast<float>(m_hoverBorderWidth));
    } else if (m_drawBorder) {
        if (m_roundRadius < 1)
            draw_rectangle(g, r, border_colour, 1.0f, 0x00FFFFFF);
        else
            draw_round_rect(g, r, enabled ? border_colour : GreyColor(border_colour),
                            static_cast<float>(m_roundRadius), static_cast<float>(m_borderWidth));
    }

    const std::wstring caption = text();
    if (!draw_text || caption.empty())
        return;
    gdi_select_scope keep_font(dc, m_font.get());
    RECT text_rect = r;
    SIZE extent = {};
    ::GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
    UINT flags = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
    if (m_icon.valid()) {
        const int ih = static_cast<int>(h * m_iconScale);
        const int iw = m_icon.m_height > 0 ? ih * m_icon.m_width / m_icon.m_height : ih;
        int x = 0, y = 0;
        button_icon_place(m_iconAlign, w, h, extent.cx, iw, ih, m_iconGap, x, y);
        m_icon.DrawAt(g, r.left + x, r.top + y, iw, ih);
        text_rect.left = r.left + x + iw + m_iconGap;
    } else if (m_kind == push || m_pushLike) {
        flags |= DT_CENTER;
    } else {
        text_rect.left = r.left + (m_kind == radio ? 14 : 15) + 4;
    }
    if (state == state_pressed)
        ::OffsetRect(&text_rect, m_pressedOffset.x, m_pressedOffset.y);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ToRgb(text_colour));
    ::DrawTextW(dc, caption.c_str(), -1, &text_rect, flags);
}
